#!/usr/bin/env bash
# Shows Tidewell as its users meet it: builds a demo product's installer with makensis
# (integrations/nsis/Example.nsi, whose uninstaller calls Tidewell.nsh), installs it silently under
# Wine into "Program Files\Demo Vendor\Demo App", runs the uninstaller silently and shows what is
# left and Tidewell's log. It runs the product, the 32-bit x86 build, with the 32-bit installer
# under 32-bit Wine; where this machine cannot run 32-bit programs, it says so and runs the
# x86-64 build with the amd64 installer.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/environment.sh
scripts/setup.sh
if scripts/x86-support.sh; then
  preset=x86
  stub=x86-unicode
  # A 32-bit program on 64-bit Windows sees "Program Files (x86)" as its Program Files folder.
  logFolder="Program Files (x86)"
else
  echo "*** This machine cannot run 32-bit programs: the demo runs the x64 build instead of the x86 product ***"
  preset=x64
  stub=amd64-unicode
  logFolder="Program Files"
fi
scripts/configure.sh $preset && cmake --build --preset $preset --target Tidewell >/dev/null

build=$PWD/build/$preset
demo=$PWD/build/demo
rm -rf "$demo"
for folder in bin lib/plugins "docs/en-US" data/cache/empty; do mkdir -p "$demo/payload/$folder"; done
for file in bin/app.exe bin/app.dll lib/plugins/a.dll lib/plugins/b.dll docs/en-US/readme.txt data/settings.ini; do
  echo "demo" >"$demo/payload/$file"
done
makensis -V2 -DTARGET=$stub "-DPAYLOAD=$demo/payload" "-DTIDEWELL_EXE=$build/Tidewell.exe" \
  "-DOUTFILE=$demo/DemoSetup.exe" integrations/nsis/Example.nsi
echo "Built $demo/DemoSetup.exe ($stub stub); its uninstaller calls:"
grep -h 'insertmacro TidewellRemoveFolder' integrations/nsis/Example.nsi

scripts/wine-prefix.sh start "$build"
trap 'scripts/wine-prefix.sh stop "$build"' EXIT
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
drive=$WINEPREFIX/drive_c
vendor="$drive/Program Files/Demo Vendor"
product="$vendor/Demo App"
rm -rf "$vendor" "$drive/$logFolder/QOR/QorSetup/LOGs"
# The temporary folder of the uninstaller, its copy, Tidewell and Tidewell's deleter.
temp="$drive/users/$(id -un)/Temp"
mkdir -p "$temp"
before=$(ls -A "$temp")

wine "$demo/DemoSetup.exe" /S
echo
echo "Installed: $(find "$product" | wc -l) entries in C:\\Program Files\\Demo Vendor\\Demo App"
mkdir -p "$vendor/Other Product" && echo "other" >"$vendor/Other Product/other.exe"
echo "Beside it: C:\\Program Files\\Demo Vendor\\Other Product"

wine "$product/Uninstall.exe" /S
# The uninstaller ends at once; Tidewell runs on its own after it, then its deleter.
log="$drive/$logFolder/QOR/QorSetup/LOGs/Tidewell.log"
for _ in $(seq 1 300); do
  if [ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" | grep -qE 'Tidewell (finished successfully|return value)'; then
    if ! find "$temp" -path '*/Tidewell.{*}/Tidewell.exe' | grep -q .; then break; fi
  fi
  sleep 0.1
done

echo
echo "Log ($log):"
iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'
echo
if [ -e "$product" ]; then echo "The product folder is still there."; else echo "The product folder is gone."; fi
echo "Left in C:\\Program Files\\Demo Vendor: $(cd "$vendor" && find . -mindepth 1 | sed 's|^\./||' | tr '\n' ' ')"
echo "New in %TEMP% since the uninstaller started:"
for entry in $(comm -13 <(echo "$before") <(ls -A "$temp")); do
  echo "  $entry: $(cd "$temp/$entry" 2>/dev/null && ls -A | tr '\n' ' ')"
done
echo "  (Tidewell.{...} is the empty private folder of Tidewell's copy, removed at the next restart;"
echo "   ~nsu*.tmp holds NSIS's own copy of the uninstaller, which NSIS leaves for the next restart)"
