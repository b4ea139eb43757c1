#!/usr/bin/env bash
# Builds both presets and runs every test program of each: the x64 build under wine64 and the x86
# build (the product) under 32-bit Wine, plus the static checks of the x86 product. Where this
# machine cannot run 32-bit programs, one line says so and the x86 build gets its static checks
# only.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/environment.sh
scripts/setup.sh
start=$SECONDS
for preset in x86 x64; do
  scripts/configure.sh "$preset"
  cmake --build --preset "$preset"
done
if scripts/x86-support.sh; then
  ctest --preset x64
  ctest --preset x86
  tested="x64 build under wine64, x86 build under 32-bit Wine and its static checks"
else
  echo "*** THIS MACHINE CANNOT RUN 32-BIT PROGRAMS: THE x86 TESTS DO NOT RUN (x64 tests and x86 static checks only) ***"
  ctest --preset x64
  ctest --preset x86 -L static
  tested="x64 build under wine64 and the x86 static checks; x86 tests NOT run"
fi
echo "All tests passed ($tested) in $(( (SECONDS - start) / 60 )) min $(( (SECONDS - start) % 60 )) s."
