#!/usr/bin/env bash
# Times the analyses after a fit of `mcreg glm` on models with many
# parameters: y ~ A + B + A*B with A and B of 20 levels (441 parameters,
# 8,000 records) and of 40 levels (1,681 parameters, 20,000 records). For
# each model it prints the median wall seconds (of RUNS runs) of the fit
# alone, and of the fit with --tests 1, --tests 3, and --emmeans A*B
# --compare B --adjust holm. Not part of CI; needs a build of the program
# (a Release build for numbers worth comparing).
#   bench/bench_analyses.sh [RUNS]
# Environment: BUILD=build folder (default build-rel), BENCH_DIR=folder for
# the generated data (default /tmp/mcreg-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
build=${BUILD:-build-rel}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
mcreg=$build/cli/mcreg
[ -x "$mcreg" ] || { echo "build $mcreg first" >&2; exit 1; }
mkdir -p "$dir"

median() {  # command... -> median wall seconds over RUNS runs
    local times=()
    for _ in $(seq "$runs"); do
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null
        t1=$(date +%s.%N)
        times+=("$(echo "$t1 - $t0" | bc -l)")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]}'
}

printf '%-8s %8s %10s %10s %14s\n' model fit "tests 1" "tests 3" "emmeans A*B"
for spec in "20 8000" "40 20000"; do
    set -- $spec
    csv="$dir/analyses_ab$1_$2.csv"
    [ -s "$csv" ] || python3 bench/gen_xml_models.py ab "$1" "$2" "$csv"
    base=("$mcreg" glm --data "$csv" --formula "y ~ A + B + A*B")
    printf '%-8s %8s %10s %10s %14s\n' "$1x$1" "$(median "${base[@]}")" \
        "$(median "${base[@]}" --tests 1)" "$(median "${base[@]}" --tests 3)" \
        "$(median "${base[@]}" --emmeans 'A*B' --compare B --adjust holm)"
done
