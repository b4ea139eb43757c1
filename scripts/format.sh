#!/usr/bin/env bash
# Formats every C++ source and header of the repository in place as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
git ls-files '*.cpp' '*.h' | xargs "$format" -i
