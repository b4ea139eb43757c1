#!/usr/bin/env bash
# Times Tidewell.exe /Wait:0 against the floor (bench/DeleteFloor.cpp: DeleteFileW and
# RemoveDirectoryW by full path over the known layout on one thread, nothing else) of the same
# build under the same Wine, for the x64 build and, where 32-bit programs run, the x86 product:
#   tree: 20,000 files in 400 folders (d0..d19\folderN\file1..50.dat)
#   flat: 10,000 files in one folder
# Tidewell runs with its workers (two per processor, at most eight); the floor runs once more on
# as many threads, which is what the platform itself allows for this layout. bench/DeleteWalk.cpp
# runs the same walk without the program around it on one worker and with the workers, so the gain
# of the pool shows apart from the program's own cost (its log).
# Each run gets fresh, identical trees, written to disk before the clock starts; the programs
# alternate. Prints the medians, each / the floor, and the goal for Tidewell on two processors
# (tree 0.6, one folder 0.8).
#   bench/delete_tree.sh [runs]      (default 3 runs of each)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
# The workers Tidewell takes, and the floor's threads to match.
workers=$(( $(nproc) * 2 > 8 ? 8 : $(nproc) * 2 ))

. scripts/environment.sh
builds=(x64)
if scripts/x86-support.sh; then builds+=(x86); else echo "32-bit programs cannot run here: the x86 product is not timed."; fi
for preset in "${builds[@]}"; do
  scripts/configure.sh "$preset"
  cmake --build --preset "$preset" --target Tidewell delete_floor delete_walk >/dev/null
done
# Everything runs in the x64 build's prefix (a 64-bit prefix runs both builds).
build=$PWD/build/x64
scripts/wine-prefix.sh start "$build"
trap 'scripts/wine-prefix.sh stop "$build"' EXIT
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all

work=$build/bench
rm -rf "$work"
mkdir -p "$work"

# make_tree ROOT FOLDERS FILES: the layout delete_floor expects.
make_tree() {
  local root=$1 folders=$2 files=$3
  mkdir -p "$root"
  if [ "$folders" -eq 0 ]; then
    (cd "$root" && seq -f 'file%g.dat' 1 "$files" | xargs touch)
    return
  fi
  for ((f = 1; f <= folders; f++)); do
    local sub=$root/d$((f % 20))/folder$f
    mkdir -p "$sub"
    (cd "$sub" && seq -f 'file%g.dat' 1 "$files" | xargs touch)
  done
}

winpath() { echo "Z:${1//\//\\}"; }

# Seconds, with milliseconds, that a command takes.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN {printf "%.3f", ns / 1e9}'
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

methods=(floor floors tidewell walk1 walk)

# bench_layout NAME FOLDERS FILES GOAL
bench_layout() {
  local name=$1 folders=$2 files=$3 goal=$4 i tree t preset method
  declare -A times=()
  for ((i = 1; i <= runs; i++)); do
    for preset in "${builds[@]}"; do
      for method in "${methods[@]}"; do
        tree=$work/${method}_${preset}_$i
        make_tree "$tree" "$folders" "$files"
        sync
        case $method in
          tidewell) t=$(seconds wine "$PWD/build/$preset/Tidewell.exe" "/Path:$(winpath "$tree")" /Wait:0) ;;
          walk1) t=$(seconds wine "$PWD/build/$preset/delete_walk.exe" "$(winpath "$tree")" 1) ;;
          walk) t=$(seconds wine "$PWD/build/$preset/delete_walk.exe" "$(winpath "$tree")" 0) ;;
          floor) t=$(seconds wine "$PWD/build/$preset/delete_floor.exe" "$(winpath "$tree")" "$folders" "$files") ;;
          floors) t=$(seconds wine "$PWD/build/$preset/delete_floor.exe" "$(winpath "$tree")" "$folders" "$files" "$workers") ;;
        esac
        [ ! -e "$tree" ] || { echo "$method ($preset) left $tree behind"; exit 1; }
        times[$method-$preset]+="$t"$'\n'
      done
    done
  done
  for preset in "${builds[@]}"; do
    local floor floors tidewell walk1 walk
    floor=$(printf '%s' "${times[floor-$preset]}" | median)
    floors=$(printf '%s' "${times[floors-$preset]}" | median)
    tidewell=$(printf '%s' "${times[tidewell-$preset]}" | median)
    walk1=$(printf '%s' "${times[walk1-$preset]}" | median)
    walk=$(printf '%s' "${times[walk-$preset]}" | median)
    printf '%-28s %s  floor %6.3f s  Tidewell %6.3f s = %5s x floor (goal %s)   floor on %s threads %5s x   walk: one worker %5s x, workers %5s x\n' \
      "$name" "$preset" "$floor" "$tidewell" "$(ratio "$tidewell" "$floor")" "$goal" \
      "$workers" "$(ratio "$floors" "$floor")" "$(ratio "$walk1" "$floor")" "$(ratio "$walk" "$floor")"
  done
}

echo "$(nproc) processors; medians of $runs runs each:"
bench_layout "20,000 files in 400 folders" 400 50 0.6
bench_layout "10,000 files in one folder" 0 10000 0.8
rm -rf "$work"
