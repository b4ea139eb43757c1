#!/usr/bin/env bash
# Times the removal of a tree of 20,000 files in 400 folders: Tidewell.exe /Wait:0 of the x64
# build and, where 32-bit programs run, of the x86 product, Wine's own "cmd /c rmdir /s /q" under
# the same Wine, and native "rm -rf". Each run gets a fresh, identical tree; prints the medians and
# the ratios.
#   bench/delete_tree.sh [runs]      (default 5 runs of each)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
folders=400
files_per_folder=50

. scripts/environment.sh
builds=(x64)
if scripts/x86-support.sh; then builds+=(x86); else echo "32-bit programs cannot run here: the x86 product is not timed."; fi
for preset in "${builds[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Tidewell >/dev/null
done
# Everything runs in the x64 build's prefix (a 64-bit prefix runs both builds).
build=$PWD/build/x64
scripts/wine-prefix.sh start "$build"
trap 'scripts/wine-prefix.sh stop "$build"' EXIT
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all

work=$build/bench
rm -rf "$work"
mkdir -p "$work"

make_tree() {
  local root=$1
  mkdir -p "$root"
  for ((d = 1; d <= folders; d++)); do
    local sub=$root/d$((d % 20))/folder$d
    mkdir -p "$sub"
    (cd "$sub" && touch $(seq -f 'file%g.dat' 1 $files_per_folder))
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

methods=("${builds[@]/#/tidewell-}" rmdir rm)
declare -A times
for method in "${methods[@]}"; do times[$method]=""; done
for ((i = 1; i <= runs; i++)); do
  for method in "${methods[@]}"; do
    tree=$work/tree_${method}_$i
    make_tree "$tree"
    count=$(find "$tree" -type f | wc -l)
    [ "$count" -eq $((folders * files_per_folder)) ] || { echo "tree has $count files"; exit 1; }
    case $method in
      tidewell-*) t=$(seconds wine "$PWD/build/${method#tidewell-}/Tidewell.exe" "/Path:$(winpath "$tree")" /Wait:0) ;;
      rmdir) t=$(seconds wine cmd /c rmdir /s /q "$(winpath "$tree")") ;;
      rm) t=$(seconds rm -rf "$tree") ;;
    esac
    [ ! -e "$tree" ] || { echo "$method left $tree behind"; exit 1; }
    times[$method]+="$t"$'\n'
  done
done

median_of() { printf '%s' "${times[$1]}" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
rmdir=$(median_of rmdir)
rm=$(median_of rm)
echo "tree: $((folders * files_per_folder)) files in $folders folders, $runs runs each, medians:"
for preset in "${builds[@]}"; do
  printf '  %-28s %7.3f s\n' "Tidewell.exe /Wait:0 ($preset)" "$(median_of "tidewell-$preset")"
done
printf '  %-28s %7.3f s\n' "cmd /c rmdir /s /q" "$rmdir" "rm -rf (native)" "$rm"
for preset in "${builds[@]}"; do
  tidewell=$(median_of "tidewell-$preset")
  printf '  %-28s %7s\n' "Tidewell ($preset) / rmdir" "$(ratio "$tidewell" "$rmdir")" \
    "Tidewell ($preset) / rm -rf" "$(ratio "$tidewell" "$rm")"
done
rm -rf "$work"
