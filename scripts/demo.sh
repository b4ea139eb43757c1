#!/usr/bin/env bash
# Builds the program and runs it under Wine on a generated demo folder tree, then shows the log
# and the exit value. It runs the product, the 32-bit x86 build, under 32-bit Wine; where this
# machine cannot run 32-bit programs, it says so and runs the x86-64 build of the same sources.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/environment.sh
scripts/setup.sh
if scripts/x86-support.sh; then
  preset=x86
  # A 32-bit program on 64-bit Windows sees "Program Files (x86)" as its Program Files folder.
  programFiles="Program Files (x86)"
else
  echo "*** This machine cannot run 32-bit programs: the demo runs the x64 build instead of the x86 product ***"
  preset=x64
  programFiles="Program Files"
fi
scripts/configure.sh $preset && cmake --build --preset $preset --target Tidewell >/dev/null

build=$PWD/build/$preset
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

log="$WINEPREFIX/drive_c/$programFiles/QOR/QorSetup/LOGs/Tidewell.log"
echo
echo "Log ($log):"
iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'
echo
echo "Exit value: $status ($preset build)"
if [ -e "$tree" ]; then echo "The demo tree is still there."; else echo "The demo tree is gone."; fi
