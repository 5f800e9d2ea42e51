#!/usr/bin/env bash
# The include graph between the library's folders, checked against the
# layering (each layer may include its own folder and the layers below):
#
#   companion < settings < data < design < glm | logistic
#             < hypothesis < marginals < export < entry
#
# glm and logistic sit side by side and do not include each other. "entry"
# is the factory and the components (settings/MCRegFactory.*,
# settings/*Component.*): they live in settings/ but may see both models,
# and nothing below them includes them.
#
#   tools/include-graph.sh            prints the graph, marking edges that break the layering
#   tools/include-graph.sh --check    also lists every breaking include and fails if there is one
#   tools/include-graph.sh --folders  the plain folder graph (entry counted as settings)
set -euo pipefail
cd "$(dirname "$0")/.."
check=0 entry=1
case "${1:-}" in
    --check) check=1 ;;
    --folders) entry=0 ;;
esac

folders=(companion settings data design glm logistic hypothesis marginals export)
files=()
for f in "${folders[@]}"; do
    for x in "$f"/*.h "$f"/*.cpp; do [ -e "$x" ] && files+=("$x"); done
done

{ grep -Hn '^#include "[a-z]*/[A-Za-z0-9_]*\.h"' "${files[@]}" || true; } | awk -v check="$check" -v entry="$entry" '
function node(path,    parts, name) {
    split(path, parts, "/")
    name = parts[2]
    if (entry && parts[1] == "settings" && (name ~ /^MCRegFactory\./ || name ~ /Component\.(h|cpp)$/))
        return "entry"
    return parts[1]
}
BEGIN {
    n = split("companion settings data design glm logistic hypothesis marginals export entry", order, " ")
    split("0 1 2 3 4 4 5 6 7 8", ranks, " ")
    for (i = 1; i <= n; ++i) rank[order[i]] = ranks[i]
}
{
    split($0, f, ":")
    line = $0
    sub(/^[^:]*:[^:]*:#include "/, "", line)
    sub(/".*$/, "", line)
    from = node(f[1]); to = node(line)
    if (!(to in rank)) next          # not a library folder
    if (from == to) next
    edges[from " " to]++
    if (!(rank[to] < rank[from])) {
        bad[from " " to] = 1
        breaking[++nb] = "  " f[1] ":" f[2] ": includes " line " (" from " -> " to ")"
    }
}
END {
    print "Include graph between folders (from -> to: number of includes):"
    for (i = 1; i <= n; ++i)
        for (j = 1; j <= n; ++j) {
            e = order[i] " " order[j]
            if (e in edges)
                printf "  %-10s -> %-10s %4d%s\n", order[i], order[j], edges[e], (e in bad) ? "  BREAKS THE LAYERING" : ""
        }
    print "Layering: companion < settings < data < design < glm | logistic < hypothesis < marginals < export < entry"
    if (nb > 0) {
        print nb " include(s) break the layering" (check ? ":" : ".")
        if (check) for (i = 1; i <= nb; ++i) print breaking[i]
        exit check ? 1 : 0
    }
    print "No include breaks the layering."
}'
