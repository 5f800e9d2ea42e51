#!/usr/bin/env bash
# The layering check passes a tree whose includes go downward and fails,
# naming the include, one where a lower room or the library includes a
# higher one, or where the host includes a header of the library that is
# not public.
set -euo pipefail
script=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{cmake,companion,glm,logistic,host/base,host/fit,host/report,cli}
printf 'set(MCREG_PUBLIC_HEADERS\n  companion/A.h\n  glm/G.h)\n' >"$tree/cmake/PublicHeaders.cmake"
echo '#pragma once' >"$tree/companion/A.h"
printf '#include "companion/A.h"\n' >"$tree/glm/G.h"
printf '#include "glm/G.h"\n#include "host/base/B.h"\n' >"$tree/host/fit/F.h"
echo '#pragma once' >"$tree/host/base/B.h"
printf '#include "host/fit/F.h"\n' >"$tree/host/report/R.h"
printf '#include "host/report/R.h"\n' >"$tree/cli/main.cpp"
INCLUDE_GRAPH_ROOT=$tree "$script" --check >/dev/null || { echo "a layered tree failed"; exit 1; }

fails() {  # file include -> the check fails naming it
    local saved
    saved=$(cat "$tree/$1")
    printf '#include "%s"\n' "$2" >>"$tree/$1"
    if out=$(INCLUDE_GRAPH_ROOT=$tree "$script" --check); then
        echo "not caught: $1 including $2"; exit 1
    fi
    grep -q "$1:.*includes $2" <<<"$out" || { echo "not named: $1 including $2"; exit 1; }
    printf '%s\n' "$saved" >"$tree/$1"
}
fails host/base/B.h host/report/R.h
fails host/fit/F.h cli/X.h
fails glm/G.h host/fit/F.h
fails glm/G.h logistic/L.h
fails companion/A.h glm/G.h
fails host/fit/F.h companion/Internal.h
fails cli/main.cpp logistic/L.h
echo "layering check: planted includes caught"
