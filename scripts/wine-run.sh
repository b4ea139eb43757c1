#!/usr/bin/env bash
# Runs a Windows program of a build under Wine (an x64 program under wine64, an x86 program under
# 32-bit Wine), in the Wine prefix of its build tree (the folder that holds CMakeCache.txt)
# unless WINEPREFIX is set.
set -euo pipefail
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=${WINEDEBUG:--all}
# Without a UTF-8 locale Wine cannot create or open files whose names are not ASCII.
export LC_ALL=C.UTF-8
exec wine "$@"
