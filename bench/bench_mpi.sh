#!/usr/bin/env bash
# Times one model fitted by 1 and by 2 processes under mpirun, each process
# reading its own part of the data: the 1,000,000-record general linear
# model of bench_csv.sh and the 500,000-record multinomial model of
# bench_logistic.sh, each file split into two halves. Reports median wall
# wall seconds (mpirun's start-up included) and process 0's read + fit
# seconds, the speed-ups and the bytes each process exchanged in the merges.
# With a Release build of the program and the benchmarks
# (-DMCREG_BUILD_BENCH=ON) and Open MPI. Not part of CI.
#   bench/bench_mpi.sh [RUNS]
# Environment: BUILD=build folder (default build-rel), BENCH_DIR=folder for
# the generated data (default /tmp/mcreg-bench), THREADS=threads of each
# process (default: the program's, every core; 1 shows what processes alone
# gain on a machine of few cores).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${BUILD:-build-rel}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
mcreg=$build/cli/mcreg
fit=$build/bench/fit_logistic
[ -x "$mcreg" ] && [ -x "$fit" ] || { echo "build $mcreg and $fit first" >&2; exit 1; }
mpirun=(mpirun --allow-run-as-root --oversubscribe --bind-to none)
threads=(${THREADS:+--threads "$THREADS"})
mkdir -p "$dir"

glm="$dir/glm_1000000.csv"
[ -s "$glm" ] || python3 bench/gen_csv.py "$glm" 1000000
mlogit="$dir/mlogit_500000.csv"
[ -s "$mlogit" ] || "$fit" 500000 --csv "$mlogit" >/dev/null

split2() {  # split2 FILE -> FILE.part-0.csv, FILE.part-1.csv (header in each)
    local n
    n=$(($(wc -l <"$1") - 1))
    awk -v half=$((n / 2)) -v p0="$1.part-0.csv" -v p1="$1.part-1.csv" '
        NR == 1 { print > p0; print > p1; next }
        { print > (NR - 1 <= half ? p0 : p1) }' "$1"
}
for f in "$glm" "$mlogit"; do [ -s "$f.part-1.csv" ] || split2 "$f"; done

median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

time_runs() {  # time_runs PROCESSES DATA ARGS... -> median wall, median read + fit of process 0
    local np=$1 data=$2
    shift 2
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e" -o "$dir/time.txt" "${mpirun[@]}" -n "$np" "$mcreg" "$@" \
            "${threads[@]}" --data "$data" --json --timing >"$dir/out.json"
        python3 -c 'import json, sys
t = json.load(open(sys.argv[1]))["timing_seconds"]
print(open(sys.argv[2]).read().split()[-1], t["read"] + t["fit"])' "$dir/out.json" "$dir/time.txt"
    done >"$dir/runs.txt"
    echo "$(cut -d' ' -f1 "$dir/runs.txt" | median) $(cut -d' ' -f2 "$dir/runs.txt" | median)"
}

bench() {  # bench NAME FILE ARGS...
    local name=$1 file=$2
    shift 2
    local one two bytes
    one=$(time_runs 1 "$file" "$@")
    two=$(time_runs 2 "$file.part-{rank}.csv" "$@")
    bytes=$(MCREG_MPI_STATS=1 "${mpirun[@]}" -n 2 "$mcreg" "$@" --data "$file.part-{rank}.csv" \
        --json 2>&1 >/dev/null | sed -n 's/.*merges of \([0-9]*\) bytes.*/\1/p')
    echo "$one $two" | awk -v n="$name" -v c="$bytes" '{
        printf "%-9s wall: -n 1 %.3f s, -n 2 %.3f s (%.2fx)   read+fit: -n 1 %.3f s, -n 2 %.3f s (%.2fx)   %d bytes exchanged per process\n",
               n, $1, $3, $1 / $3, $2, $4, $2 / $4, c }'
}

bench glm "$glm" glm --formula "y ~ A + B + C + x1 + x2 + A*B + A*x1"
bench logistic "$mlogit" logistic --formula "y ~ A + B + x1 + x2" --factors A,B
