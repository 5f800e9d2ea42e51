#!/usr/bin/env bash
# Times the 1,000,000-record general linear model of bench_csv.sh and the
# 500,000-record multinomial model of bench_logistic.sh fitted on one
# thread and on two (--threads 1 / 2, the same parts and the same results),
# the runs interleaved so that a drift of the machine's speed falls on both.
# Reports the median wall seconds and the median fit seconds (--timing) of
# each, and the speed-ups. With a Release build of the program
# (-DMCREG_BUILD_BENCH=ON for the logistic data's generator). Not part of CI.
#   bench/bench_threads.sh [RUNS]
# Environment: BUILD=build folder (default build-rel), BENCH_DIR=folder for
# the generated data (default /tmp/mcreg-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${BUILD:-build-rel}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
mcreg=$build/cli/mcreg
[ -x "$mcreg" ] || { echo "build $mcreg first" >&2; exit 1; }
mkdir -p "$dir"

glm="$dir/glm_1000000.csv"
[ -s "$glm" ] || python3 bench/gen_csv.py "$glm" 1000000
mlogit="$dir/mlogit_500000.csv"
if [ ! -s "$mlogit" ]; then
    fit=$build/bench/fit_logistic
    [ -x "$fit" ] || { echo "build $fit first (-DMCREG_BUILD_BENCH=ON)" >&2; exit 1; }
    "$fit" 500000 --csv "$mlogit" >/dev/null
fi

median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

one_run() {  # one_run THREADS DATA ARGS... -> "wall fit"
    local threads=$1 data=$2
    shift 2
    /usr/bin/time -f "%e" -o "$dir/time.txt" "$mcreg" "$@" --data "$data" --threads "$threads" \
        --json --timing >"$dir/out.json"
    python3 -c 'import json, sys
t = json.load(open(sys.argv[1]))["timing_seconds"]
print(open(sys.argv[2]).read().split()[-1], t["fit"])' "$dir/out.json" "$dir/time.txt"
}

bench() {  # bench NAME FILE ARGS...
    local name=$1 file=$2
    shift 2
    one_run 1 "$file" "$@" >/dev/null  # warm the page cache
    : >"$dir/t1.txt"
    : >"$dir/t2.txt"
    for _ in $(seq "$runs"); do
        one_run 1 "$file" "$@" >>"$dir/t1.txt"
        one_run 2 "$file" "$@" >>"$dir/t2.txt"
    done
    local w1 w2 f1 f2
    w1=$(cut -d' ' -f1 "$dir/t1.txt" | median)
    w2=$(cut -d' ' -f1 "$dir/t2.txt" | median)
    f1=$(cut -d' ' -f2 "$dir/t1.txt" | median)
    f2=$(cut -d' ' -f2 "$dir/t2.txt" | median)
    awk -v n="$name" -v w1="$w1" -v w2="$w2" -v f1="$f1" -v f2="$f2" 'BEGIN {
        printf "%-9s wall: 1 thread %.3f s, 2 threads %.3f s (%.2fx)   fit: %.3f s, %.3f s (%.2fx)\n",
               n, w1, w2, w1 / w2, f1, f2, f1 / f2 }'
}

bench glm "$glm" glm --formula "y ~ A + B + C + x1 + x2 + A*B + A*x1"
bench logistic "$mlogit" logistic --formula "y ~ A + B + x1 + x2" --factors A,B
