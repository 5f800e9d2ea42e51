#!/usr/bin/env bash
# The include graph between the library's folders, the host library's rooms
# and the program, checked against the layering (each may include its own
# folder and those before it):
#
#   companion < settings < data < design < link < glm | logistic
#             < hypothesis < marginals < export < components
#             < host/base < host/run < host/input < host/model < host/score < host/fit
#             < host/analyses < host/report < host/session < cli | python/src
#
# glm and logistic sit side by side and do not include each other, nor do
# the program (cli) and the Python module (python/src). The
# library never includes the host or the program; the host's rooms see the
# library whole and the rooms before their own.
#
# The host's rooms, the program and the Python module are a host like any other: of the
# library they include only the public headers (cmake/PublicHeaders.cmake).
#
#   tools/include-graph.sh            prints the graph, marking edges that break the layering
#   tools/include-graph.sh --check    also lists every breaking include and every internal
#                                     header the host includes, and fails if there is one
# INCLUDE_GRAPH_ROOT=folder checks another tree than this one's (the test
# of the check plants includes in a small one).
set -euo pipefail
cd "${INCLUDE_GRAPH_ROOT:-$(dirname "$0")/..}"
check=0
[ "${1:-}" = --check ] && check=1

order="companion settings data design link glm logistic hypothesis marginals export components"
order+=" host/base host/run host/input host/model host/score host/fit host/analyses host/report"
order+=" host/session cli python/src"
files=()
for f in $order; do
    for x in "$f"/*.h "$f"/*.cpp; do [ -e "$x" ] && files+=("$x"); done
done

status=0
{ grep -Hn '^#include "[a-z]*/\([a-z]*/\)\?[A-Za-z0-9_]*\.h"' "${files[@]}" || true; } |
    awk -v check="$check" -v order="$order" '
function node(path,    parts, n) {
    n = split(path, parts, "/")
    return ((parts[1] == "host" || parts[1] == "python") && n == 3) ? parts[1] "/" parts[2] : parts[1]
}
BEGIN {
    n = split(order, names, " ")
    r = 0
    for (i = 1; i <= n; ++i) {
        # glm and logistic share a rank, and so do cli and python/src:
        # neither of a pair sees the other.
        if (names[i] != "logistic" && names[i] != "python/src") ++r
        rank[names[i]] = r
    }
}
{
    split($0, f, ":")
    line = $0
    sub(/^[^:]*:[^:]*:#include "/, "", line)
    sub(/".*$/, "", line)
    from = node(f[1]); to = node(line)
    if (!(to in rank)) next          # not a folder of ours
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
            e = names[i] " " names[j]
            if (e in edges)
                printf "  %-14s -> %-14s %4d%s\n", names[i], names[j], edges[e], (e in bad) ? "  BREAKS THE LAYERING" : ""
        }
    if (nb > 0) {
        print nb " include(s) break the layering" (check ? ":" : ".")
        if (check) for (i = 1; i <= nb; ++i) print breaking[i]
        exit check ? 1 : 0
    }
    print "No include breaks the layering."
}' || status=1

if [ "$check" = 1 ] && [ -f cmake/PublicHeaders.cmake ]; then
    library=" ${order%% host/*} "
    public=" $(grep -oE '^  [a-z]+/[A-Za-z0-9_]+\.h' cmake/PublicHeaders.cmake | tr -d ' ' | tr '\n' ' ') "
    internal=0
    for x in "${files[@]}"; do
        case $x in host/* | cli/* | python/*) ;; *) continue ;; esac
        while IFS=: read -r line inc; do
            inc=${inc#\#include \"}
            inc=${inc%%\"*}
            [[ $library == *" ${inc%%/*} "* ]] || continue
            [[ $public == *" $inc "* ]] && continue
            ((internal++ == 0)) && echo "The host includes internal headers of the library:"
            echo "  $x:$line: includes $inc, which is not public (cmake/PublicHeaders.cmake)"
        done < <(grep -n '^#include "[a-z]*/[A-Za-z0-9_]*\.h"' "$x" || true)
    done
    if ((internal > 0)); then
        status=1
    else
        echo "The host includes only public headers of the library."
    fi
fi
exit $status
