#!/usr/bin/env bash
# How long a crash takes from start to exit under Wine, minidump and report included: runs copies
# of the test suite's crash program (build/<preset>/tw_crash.exe) of the x64 build and, where
# 32-bit programs run, of the x86 build, and prints the wall time of each run. "startup" is a run
# that ends at once (unknown command), for the cost of starting a process.
# Usage: bench/crash_report.sh [runs per command, default 3]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/environment.sh
runs=${1:-3}
builds=(x64)
if scripts/x86-support.sh; then builds+=(x86); else echo "32-bit programs cannot run here: the x86 build is not measured."; fi
for preset in "${builds[@]}"; do
  [ -f "build/$preset/tw_crash.exe" ] || { echo "build the $preset preset first" >&2; exit 2; }
done
# Both builds run in the x64 build's prefix.
scripts/wine-prefix.sh start build/x64
trap 'scripts/wine-prefix.sh stop build/x64' EXIT
export WINEPREFIX=$PWD/build/x64/wineprefix WINEDEBUG=-all

work=$(mktemp -d)
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
printf '%-6s %-10s %4s %8s %5s %7s\n' build command run seconds exit lines
for preset in "${builds[@]}"; do
  logs="$WINEPREFIX/drive_c/Program Files/QOR/QorSetup/LOGs"
  [ "$preset" = x86 ] && logs="$WINEPREFIX/drive_c/Program Files (x86)/QOR/QorSetup/LOGs"
  # The copies find their names and lines in the program's PDB, beside them as in a shipped folder.
  cp "build/$preset/tw_crash.pdb" "$work/"
  for command in startup access divide nullcall raise overflow; do
    for run in $(seq "$runs"); do
      name="bench_${command}_$$_$run"
      cp "build/$preset/tw_crash.exe" "$work/$name.exe"
      start=$(date +%s%N)
      set +e
      wine "$work/$name.exe" "$command" </dev/null >/dev/null 2>&1
      code=$?
      set -e
      end=$(date +%s%N)
      lines=0
      if [ -f "$logs/$name.log" ]; then
        lines=$(iconv -f UTF-16 -t UTF-8 "$logs/$name.log" | wc -l)
        rm -f "$logs/$name.log"
      fi
      rm -f "$temp/$name.dump" "$work/$name.exe"
      printf '%-6s %-10s %4s %8.2f %5s %7s\n' "$preset" "$command" "$run" \
        "$(awk -v ns=$((end - start)) 'BEGIN {print ns / 1e9}')" "$code" "$lines"
    done
  done
done
rm -rf "$work"
