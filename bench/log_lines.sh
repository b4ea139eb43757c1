#!/usr/bin/env bash
# Log throughput and start-up cost under Wine:
#   - lines per second for one process, and for four processes sharing one log file;
#   - the cost of opening the log and writing its header: Tidewell.exe /Wait:0 on a missing folder
#     against an empty program, both from process start to exit;
# for the x64 build and, where 32-bit programs run, for the x86 product.
#   bench/log_lines.sh [runs]     (default 5; medians are printed)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
lines=20000

. scripts/environment.sh
builds=(x64)
if scripts/x86-support.sh; then builds+=(x86); else echo "32-bit programs cannot run here: the x86 product is not measured."; fi
for preset in "${builds[@]}"; do
  scripts/configure.sh "$preset"
  cmake --build --preset "$preset" --target Tidewell tw_logwriter tw_child >/dev/null
done
# Both builds run in the x64 build's prefix.
scripts/wine-prefix.sh start build/x64
trap 'scripts/wine-prefix.sh stop build/x64' EXIT
export WINEPREFIX=$PWD/build/x64/wineprefix WINEDEBUG=-all

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ms() { awk -v ns="$1" 'BEGIN {printf "%.1f", ns / 1e6}'; }

elapsed() {   # nanoseconds a command takes
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1 || true
  end=$(now)
  echo $((end - start))
}

four_writers() {
  local pids=()
  for _ in 1 2 3 4; do wine "$build/tw_logwriter.exe" $((lines / 4)) - - & pids+=($!); done
  wait "${pids[@]}"
}

rate() { awk -v n="$1" -v ns="$2" 'BEGIN {printf "%.0f", n / (ns / 1e9)}'; }
for preset in "${builds[@]}"; do
  build=$PWD/build/$preset
  one=() four=() empty=() zero=() tidewell=()
  for ((i = 0; i < runs; i++)); do
    zero+=("$(elapsed wine "$build/tw_logwriter.exe" 0 - -)")
    one+=("$(elapsed wine "$build/tw_logwriter.exe" "$lines" - -)")
    four+=("$(elapsed four_writers)")
    empty+=("$(elapsed wine "$build/tw_child.exe")")
    tidewell+=("$(elapsed wine "$build/Tidewell.exe" "/Path:Z:\\nonexistent\\tidewell-bench" /Wait:0)")
  done
  rm -f "$WINEPREFIX"/drive_c/Program\ Files*/QOR/QorSetup/LOGs/tw_logwriter*.log

  m_zero=$(printf '%s\n' "${zero[@]}" | median)
  m_one=$(printf '%s\n' "${one[@]}" | median)
  m_four=$(printf '%s\n' "${four[@]}" | median)
  m_empty=$(printf '%s\n' "${empty[@]}" | median)
  m_tidewell=$(printf '%s\n' "${tidewell[@]}" | median)

  echo "$preset build, medians of $runs runs:"
  echo "  one process, $lines lines:            $(rate "$lines" $((m_one - m_zero))) lines/s (start-up of an empty log writer subtracted)"
  echo "  four processes, $((lines / 4)) lines each, one file: $(rate "$lines" $((m_four - m_zero))) lines/s"
  echo "  empty program, start to exit:         $(ms "$m_empty") ms"
  echo "  Tidewell /Wait:0 on a missing folder: $(ms "$m_tidewell") ms (log, header and run)"
  echo "  difference:                           $(ms $((m_tidewell - m_empty))) ms"
done
