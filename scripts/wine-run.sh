#!/usr/bin/env bash
# Runs a Windows program of the x64 build under wine64, in the Wine prefix of its build tree
# (the folder that holds CMakeCache.txt) unless WINEPREFIX is set.
set -euo pipefail
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
