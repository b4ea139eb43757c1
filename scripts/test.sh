#!/usr/bin/env bash
# Builds both presets and runs every test: the static checks of the x86 product and the whole
# suite of the x64 build under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in x86 x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
ctest --preset x86
ctest --preset x64
