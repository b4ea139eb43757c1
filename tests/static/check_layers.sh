#!/usr/bin/env bash
# The layer order of the product code: a file includes only files of its own folder or of folders
# below it, and no two files (a .h/.cpp pair counts as one) include each other in a circle.
#   win < fs < config < log < crash < app
set -u
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root" || exit 1
order=(win fs config log crash app)

# "unit included-unit" pairs of the product code, one per line.
edges=$(for dir in "${order[@]}"; do
          grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$dir"/*.h "$dir"/*.cpp 2>/dev/null
        done | sed -E 's/^([^:]+)\.(h|cpp):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)\.(h|hpp)".*/\1 \3/' |
        awk '$1 != $2' | sort -u)

awk -v layers="${order[*]}" '
BEGIN { n = split(layers, names, " "); for (i = 1; i <= n; ++i) rank[names[i]] = i }
{
    split($1, from, "/"); split($2, to, "/")
    if (!(to[1] in rank)) next
    if (rank[to[1]] > rank[from[1]]) { print "FAIL: " $1 " includes " $2 ", which is above it"; bad = 1 }
    out[$1] = out[$1] " " $2; nodes[$1]; nodes[$2]
}
# Depth-first search; a grey node met again closes a circle.
function visit(v,    list, k, count, w) {
    state[v] = 1; path[++depth] = v
    count = split(out[v], list, " ")
    for (k = 1; k <= count; ++k) {
        w = list[k]
        if (state[w] == 1) { print "FAIL: include circle through " v " and " w; bad = 1 }
        else if (state[w] == 0) visit(w)
    }
    state[v] = 2; --depth
}
END {
    for (v in nodes) state[v] = 0
    for (v in nodes) if (state[v] == 0) visit(v)
    if (bad) exit 1
    print "layers checked: no upward include, no circle"
}' <<<"$edges"
