#!/usr/bin/env bash
# Runs the checks of .clang-tidy over the product and the tests (scripts/tidy.sh [file...]), with
# the compile commands of the x64 build. Every finding is an error. About 3 minutes on 2 cores for
# everything, so the test command leaves it to whoever changes the code.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/configure.sh x64
if [ $# -eq 0 ]; then
  mapfile -t files < <(git ls-files '*.cpp' | grep -v '^bench/')
else
  files=("$@")
fi
tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy)
"$tidy" -p build/x64 -j "$(nproc)" -quiet "${files[@]/#/$PWD/}"
