#!/usr/bin/env bash
# The release package of a build: cpack makes both archives; each holds exactly the files of a
# release; the archived PDBs are those of the archived modules; the program runs from its unpacked
# folder under Wine (in the build's prefix) and removes a folder tree, and the example settings
# file beside it changes nothing.
#   check_package.sh <build folder> <version> <arch>
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
arch=$3
here=$(cd "$(dirname "$0")" && pwd)
name=Tidewell-$version-$arch
work=$build/package-test
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work/program" "$work/symbols"
(cd "$build" && cpack >/dev/null)
(cd "$work/program" && cmake -E tar xf "$build/packages/$name.zip")
(cd "$work/symbols" && cmake -E tar xf "$build/packages/$name-symbols.zip")

contents=$(cd "$work/program" && find . -type f | sort | tr '\n' ' ')
expected="./MxQorSetup.cfg.example ./MxQorTavUt.dll ./README.txt ./Tidewell.exe ./Tidewell.nsh "
[ "$contents" = "$expected" ] || fail "$name.zip holds $contents"
contents=$(cd "$work/symbols" && find . -type f | sort | tr '\n' ' ')
[ "$contents" = "./MxQorTavUt.pdb ./Tidewell.pdb " ] || fail "$name-symbols.zip holds $contents"
for module in Tidewell.exe MxQorTavUt.dll; do
  cp "$work/program/$module" "$work/symbols/"
  "$here/../static/check_pdb.sh" "$work/symbols/$module" >/dev/null || fail "the archived PDB does not match $module"
done

tree=$work/tree
mkdir -p "$tree/sub"
echo x >"$tree/a.txt"
echo x >"$tree/sub/b.txt"
winTree="Z:${tree//\//\\}"
export WINEPREFIX=$build/wineprefix
status=0
"$here/../../scripts/wine-run.sh" "$work/program/Tidewell.exe" "/Path:$winTree" /Wait:0 || status=$?
[ "$status" -eq 0 ] || fail "the unpacked program ended with $status"
[ ! -e "$tree" ] || fail "the tree is still there"

# The run's log lies in the default folder (the example's TargetDir is not used).
if [ "$arch" = x86 ]; then programFiles="Program Files (x86)"; else programFiles="Program Files"; fi
found=""
for log in "$WINEPREFIX/drive_c/$programFiles/QOR/QorSetup/LOGs"/Tidewell*.log; do
  if iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r' | grep -qF "Working on Path $winTree"; then found=$log; fi
done
[ -n "$found" ] || fail "no log of the run in the default log folder"
[ ! -e "$WINEPREFIX/drive_c/users/$(id -un)/Temp/TidewellLogs" ] || fail "the example settings took effect"

if [ "$failures" -ne 0 ]; then
  echo "$failures package check(s) failed for $name"
  exit 1
fi
echo "package checked: $name.zip and $name-symbols.zip"
