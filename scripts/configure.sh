#!/usr/bin/env bash
# Configures a preset (scripts/configure.sh x86|x64). A build tree that was configured with another
# compiler refuses to configure: it is configured afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset "$1" >/dev/null 2>&1 || cmake --preset "$1" --fresh >/dev/null
