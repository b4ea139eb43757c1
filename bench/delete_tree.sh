#!/usr/bin/env bash
# Times the removal of a tree of 20,000 files in 400 folders: Tidewell.exe /Wait:0, Wine's own
# "cmd /c rmdir /s /q" under the same Wine, and native "rm -rf". Each run gets a fresh, identical
# tree; prints the medians and the ratios.
#   bench/delete_tree.sh [runs]      (default 5 runs of each)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
folders=400
files_per_folder=50

cmake --preset x64 >/dev/null
cmake --build --preset x64 --target Tidewell >/dev/null
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

declare -A times
for method in tidewell rmdir rm; do times[$method]=""; done
for ((i = 1; i <= runs; i++)); do
  for method in tidewell rmdir rm; do
    tree=$work/tree_${method}_$i
    make_tree "$tree"
    count=$(find "$tree" -type f | wc -l)
    [ "$count" -eq $((folders * files_per_folder)) ] || { echo "tree has $count files"; exit 1; }
    case $method in
      tidewell) t=$(seconds wine "$build/Tidewell.exe" "/Path:$(winpath "$tree")" /Wait:0) ;;
      rmdir) t=$(seconds wine cmd /c rmdir /s /q "$(winpath "$tree")") ;;
      rm) t=$(seconds rm -rf "$tree") ;;
    esac
    [ ! -e "$tree" ] || { echo "$method left $tree behind"; exit 1; }
    times[$method]+="$t"$'\n'
  done
done

tidewell=$(printf '%s' "${times[tidewell]}" | median)
rmdir=$(printf '%s' "${times[rmdir]}" | median)
rm=$(printf '%s' "${times[rm]}" | median)
echo "tree: $((folders * files_per_folder)) files in $folders folders, $runs runs each, medians:"
printf '  Tidewell.exe /Wait:0     %7.3f s\n' "$tidewell"
printf '  cmd /c rmdir /s /q       %7.3f s\n' "$rmdir"
printf '  rm -rf (native)          %7.3f s\n' "$rm"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
printf '  Tidewell / rmdir         %7s\n' "$(ratio "$tidewell" "$rmdir")"
printf '  Tidewell / rm -rf        %7s\n' "$(ratio "$tidewell" "$rm")"
rm -rf "$work"
