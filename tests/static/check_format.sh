#!/usr/bin/env bash
# Every C++ source and header of the repository is formatted as .clang-format says (clang-format
# 14, Debian 12's). Prints the files that are not and what differs; scripts/format.sh fixes them.
#   check_format.sh <source root>
set -u
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root" || exit 1
format=$(command -v clang-format-14 || command -v clang-format) || { echo "FAIL: no clang-format"; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find app bench config crash fs log tests win -name '*.cpp' -o -name '*.h' 2>/dev/null)
fi
bad=0
for file in "${files[@]}"; do
  if ! "$format" --dry-run -Werror "$file" >/dev/null 2>&1; then
    echo "FAIL: $file is not formatted:"
    "$format" "$file" | diff "$file" - | head -20
    bad=1
  fi
done
[ "$bad" -eq 0 ] && echo "All ${#files[@]} files are formatted."
exit "$bad"
