#!/usr/bin/env bash
# Times the analyses after a fit of `mcreg glm` on models with many
# parameters. For each model it prints the median wall seconds (of RUNS
# runs) of the fit alone and of the fit with each analysis, with the ratio
# of the latter to the fit alone ("-": not timed for that model). The
# models:
#   ab20    y ~ A + B + A*B, A and B of 20 levels (441 parameters, 8,000
#           records): --tests 1, --tests 3, --tests 1,3, and the emmeans
#           column --emmeans A*B --compare B --adjust holm
#   ab40    the same with 40 levels (1,681 parameters, 20,000 records)
#   cov250  y ~ x1 + ... + x250 (20,000 records): --tests 1, --tests 3
#   cov500  y ~ x1 + ... + x500 (20,000 records): --tests 1, --tests 3
#   g5000   y ~ G + x1 + x2, G of 5,000 levels (1,000,000 records):
#           --tests 3, and --emmeans G (the 5,000 means: the 12.5 million
#           pairs of levels are compared only when --compare G asks)
# The data are generated on first use (bench/gen_xml_models.py,
# bench/gen_analyses_models.py). bench/reference/analyses.R times R on the
# same files. Not part of CI; needs a build of the program (a Release build
# for numbers worth comparing).
#   bench/bench_analyses.sh [RUNS [MODEL...]]     (default: 3, every model)
# Environment: BUILD=build folder (default build-rel), BENCH_DIR=folder for
# the generated data (default /tmp/mcreg-bench), TIMEOUT=seconds after which
# a run is stopped (TERM, then KILL 10 s later) and shown as ">TIMEOUT"
# (default 0, no limit).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
shift || true
models=("$@")
[ ${#models[@]} -gt 0 ] || models=(ab20 ab40 cov250 cov500 g5000)
for model in "${models[@]}"; do
    case $model in
        ab20 | ab40 | cov250 | cov500 | g5000) ;;
        *) echo "unknown model '$model' (ab20, ab40, cov250, cov500, g5000)" >&2; exit 2 ;;
    esac
done
build=${BUILD:-build-rel}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
limit=${TIMEOUT:-0}
mcreg=$build/cli/mcreg
[ -x "$mcreg" ] || { echo "build $mcreg first" >&2; exit 1; }
mkdir -p "$dir"

median() {  # command... -> median wall seconds over RUNS runs, >TIMEOUT or failed
    local times=()
    for _ in $(seq "$runs"); do
        local t0 t1 rc=0
        t0=$(date +%s.%N)
        # A program that does not stop on the TERM is killed 10 s later.
        timeout -k 10 "$limit" "$@" >/dev/null 2>"$dir/stderr" || rc=$?
        t1=$(date +%s.%N)
        if [ "$limit" != 0 ] && { [ "$rc" = 124 ] || [ "$rc" = 137 ]; }; then
            printf '>%s' "$limit"
            return
        elif [ "$rc" != 0 ]; then
            echo "exit code $rc: $*" >&2
            cat "$dir/stderr" >&2
            printf failed
            return
        fi
        times+=("$(echo "$t1 - $t0" | bc -l)")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]}'
}

# The columns of the table after the fit, and each model's options for them
# (none: not timed).
columns=("tests 1" "tests 3" "tests 1,3" "emmeans")
csv= formula= options=()
setup() {
    case $1 in
        ab20 | ab40)
            local levels=${1#ab} n
            n=$([ "$levels" = 20 ] && echo 8000 || echo 20000)
            csv="$dir/analyses_ab${levels}_$n.csv"
            [ -s "$csv" ] || python3 bench/gen_xml_models.py ab "$levels" "$n" "$csv"
            formula="y ~ A + B + A*B"
            options=("--tests 1" "--tests 3" "--tests 1,3" "--emmeans A*B --compare B --adjust holm")
            ;;
        cov250 | cov500)
            local k=${1#cov}
            csv="$dir/analyses_cov${k}_20000.csv"
            [ -s "$csv" ] || python3 bench/gen_analyses_models.py cov "$k" 20000 "$csv"
            formula="y ~ $(seq -f 'x%g' -s ' + ' 1 "$k")"
            options=("--tests 1" "--tests 3" "" "")
            ;;
        g5000)
            csv="$dir/analyses_g5000_1000000.csv"
            [ -s "$csv" ] || python3 bench/gen_analyses_models.py g 5000 1000000 "$csv"
            formula="y ~ G + x1 + x2"
            options=("" "--tests 3" "" "--emmeans G")
            ;;
    esac
}

cell() {  # seconds fit -> "seconds (ratio x)"
    case $1$2 in
        *[!0-9.]*) printf '%s' "$1" ;;
        *) printf '%s (%sx)' "$1" "$(echo "$1 / $2" | bc -l | awk '{printf "%.1f", $1}')" ;;
    esac
}

printf '%-7s %8s' model fit
printf ' %16s' "${columns[@]}"
printf '\n'
for model in "${models[@]}"; do
    setup "$model"
    base=("$mcreg" glm --data "$csv" --formula "$formula")
    fit=$(median "${base[@]}")
    printf '%-7s %8s' "$model" "$fit"
    for o in "${options[@]}"; do
        if [ -z "$o" ]; then
            printf ' %16s' -
            continue
        fi
        # Word splitting only: A*B stays as it is.
        read -r -a opts <<<"$o"
        printf ' %16s' "$(cell "$(median "${base[@]}" "${opts[@]}")" "$fit")"
    done
    printf '\n'
done
