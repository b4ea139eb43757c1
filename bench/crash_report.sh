#!/usr/bin/env bash
# How long a crash takes from start to exit under wine64, minidump and report included: runs
# copies of the test suite's crash program (build/x64/tw_crash.exe) and prints the wall time of
# each run. "startup" is a run that ends at once (unknown command), for the cost of starting a
# process. Usage: bench/crash_report.sh [runs per command, default 3]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/x64
runs=${1:-3}
[ -f "$build/tw_crash.exe" ] || { echo "build the x64 preset first" >&2; exit 2; }
scripts/wine-prefix.sh start "$build"
trap 'scripts/wine-prefix.sh stop "$build"' EXIT
export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all

work=$(mktemp -d)
logs="$WINEPREFIX/drive_c/Program Files/QOR/QorSetup/LOGs"
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
printf '%-10s %4s %8s %5s %7s\n' command run seconds exit lines
for command in startup access divide nullcall raise overflow; do
  for run in $(seq "$runs"); do
    name="bench_${command}_$$_$run"
    cp "$build/tw_crash.exe" "$work/$name.exe"
    start=$(date +%s.%N)
    set +e
    wine "$work/$name.exe" "$command" </dev/null >/dev/null 2>&1
    code=$?
    set -e
    end=$(date +%s.%N)
    lines=0
    if [ -f "$logs/$name.log" ]; then
      lines=$(iconv -f UTF-16 -t UTF-8 "$logs/$name.log" | wc -l)
      rm -f "$logs/$name.log"
    fi
    rm -f "$temp/$name.dump" "$work/$name.exe"
    printf '%-10s %4s %8.2f %5s %7s\n' "$command" "$run" "$(echo "$end - $start" | bc)" "$code" "$lines"
  done
done
rm -rf "$work"
