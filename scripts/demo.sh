#!/usr/bin/env bash
# Builds the program and runs it under Wine on a generated demo folder tree, then shows the log
# and the exit value. The product is the 32-bit x86 build; this machine runs the x86-64 build of
# the same sources (32-bit Wine cannot run here).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset x86 >/dev/null && cmake --build --preset x86 >/dev/null
cmake --preset x64 >/dev/null && cmake --build --preset x64 --target Tidewell >/dev/null

build=$PWD/build/x64
scripts/wine-prefix.sh start "$build"
trap 'scripts/wine-prefix.sh stop "$build"' EXIT
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all

tree=$PWD/build/demo/Program\ Files/Demo\ App
rm -rf "$PWD/build/demo"
for folder in bin lib/plugins "docs/en-US" data/cache/empty; do mkdir -p "$tree/$folder"; done
for file in bin/app.exe bin/app.dll lib/plugins/a.dll lib/plugins/b.dll docs/en-US/readme.txt data/settings.ini; do
  echo "demo" >"$tree/$file"
done
chmod a-w "$tree/bin/app.dll"   # read-only under Windows
echo "Demo tree: $(find "$tree" | wc -l) entries in $tree"

winpath="Z:${tree//\//\\}"
set +e
wine "$build/Tidewell.exe" "/Path:$winpath" /Wait:1
status=$?
set -e
[ "$status" -eq 255 ] && status=-1

log="$WINEPREFIX/drive_c/Program Files/QOR/QorSetup/LOGs/Tidewell.log"
echo
echo "Log ($log):"
iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'
echo
echo "Exit value: $status"
if [ -e "$tree" ]; then echo "The demo tree is still there."; else echo "The demo tree is gone."; fi
