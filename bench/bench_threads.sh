#!/usr/bin/env bash
# Times the 1,000,000-record general linear model of bench_csv.sh and the
# 500,000-record multinomial model of bench_logistic.sh fitted on one
# thread and on two (--threads 1 / 2, the same parts and the same results),
# the runs interleaved so that a drift of the machine's speed falls on both.
# Reports the median wall, read and fit seconds (--timing) of each, the
# reading's MB/s and the speed-ups; then, in the same run, R (read.csv + lm +
# summary) and statsmodels (pandas + ols) on the general linear model's file
# when they are installed, and with BIG=N records (e.g. 20000000) the
# streamed fit (--memory-limit 0) of that larger file on one and two
# threads. With a Release build of the program (-DMCREG_BUILD_BENCH=ON for
# the logistic data's generator). Not part of CI.
#   bench/bench_threads.sh [RUNS]
# Environment: BUILD=build folder (default build-rel), BENCH_DIR=folder for
# the generated data (default /tmp/mcreg-bench), BIG (default 0: skipped),
# REF_RUNS=runs of R and statsmodels (default 3; 0 skips them).
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

one_run() {  # one_run THREADS DATA ARGS... -> "wall fit read"
    local threads=$1 data=$2
    shift 2
    /usr/bin/time -f "%e" -o "$dir/time.txt" "$mcreg" "$@" --data "$data" --threads "$threads" \
        --json --timing >"$dir/out.json"
    python3 -c 'import json, sys
t = json.load(open(sys.argv[1]))["timing_seconds"]
print(open(sys.argv[2]).read().split()[-1], t["fit"], t["read"])' "$dir/out.json" "$dir/time.txt"
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
    local w1 w2 f1 f2 r1 r2 bytes
    w1=$(cut -d' ' -f1 "$dir/t1.txt" | median)
    w2=$(cut -d' ' -f1 "$dir/t2.txt" | median)
    f1=$(cut -d' ' -f2 "$dir/t1.txt" | median)
    f2=$(cut -d' ' -f2 "$dir/t2.txt" | median)
    r1=$(cut -d' ' -f3 "$dir/t1.txt" | median)
    r2=$(cut -d' ' -f3 "$dir/t2.txt" | median)
    bytes=$(stat -c %s "$file")
    awk -v n="$name" -v w1="$w1" -v w2="$w2" -v f1="$f1" -v f2="$f2" -v r1="$r1" -v r2="$r2" \
        -v b="$bytes" 'BEGIN {
        printf "%-9s wall: 1 thread %.3f s, 2 threads %.3f s (%.2fx)   fit: %.3f s, %.3f s (%.2fx)\n",
               n, w1, w2, w1 / w2, f1, f2, f1 / f2
        printf "%-9s read: 1 thread %.3f s (%.0f MB/s), 2 threads %.3f s (%.0f MB/s)\n",
               "", r1, b / r1 / 1e6, r2, b / r2 / 1e6 }'
}

bench glm "$glm" glm --formula "y ~ A + B + C + x1 + x2 + A*B + A*x1"
bench logistic "$mlogit" logistic --formula "y ~ A + B + x1 + x2" --factors A,B

ref_runs=${REF_RUNS:-3}
reference() {  # reference NAME COMMAND...: the median wall seconds of REF_RUNS runs
    local name=$1
    shift
    : >"$dir/ref.txt"
    for _ in $(seq "$ref_runs"); do
        /usr/bin/time -f "%e" -o "$dir/time.txt" "$@" >/dev/null 2>&1 || return 0
        tail -n 1 "$dir/time.txt" >>"$dir/ref.txt"
    done
    printf "%-24s wall %.1f s (median of %d)\n" "$name" "$(median <"$dir/ref.txt")" "$ref_runs"
}
if [ "$ref_runs" -gt 0 ] && command -v Rscript >/dev/null; then
    cat >"$dir/lm_threads.R" <<'EOF'
d <- read.csv(commandArgs(TRUE)[1], stringsAsFactors = TRUE)
s <- summary(lm(y ~ A + B + C + x1 + x2 + A:B + A:x1, data = d))
EOF
    reference "Rscript read.csv+lm" Rscript "$dir/lm_threads.R" "$glm"
fi
if [ "$ref_runs" -gt 0 ] && /usr/bin/python3 -c "import statsmodels, pandas" 2>/dev/null; then
    cat >"$dir/ols_threads.py" <<'EOF'
import sys
import pandas as pd
import statsmodels.formula.api as smf
d = pd.read_csv(sys.argv[1])
smf.ols("y ~ A + B + C + x1 + x2 + A:B + A:x1", data=d).fit().summary()
EOF
    reference "statsmodels pandas+ols" /usr/bin/python3 "$dir/ols_threads.py" "$glm"
fi

big=${BIG:-0}
if [ "$big" -gt 0 ]; then
    csv="$dir/glm_$big.csv"
    [ -s "$csv" ] || python3 bench/gen_csv.py "$csv" "$big"
    for threads in 1 2; do
        /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$mcreg" glm --data "$csv" \
            --formula "y ~ A + B + C + x1 + x2 + A*B + A*x1" --threads "$threads" \
            --memory-limit 0 --json --timing >"$dir/out.json"
        python3 - "$dir/out.json" "$dir/time.txt" "$big" "$threads" <<'EOF'
import json, sys
t = json.load(open(sys.argv[1]))["timing_seconds"]
wall, peak = open(sys.argv[2]).read().split()[-2:]
print(f"{sys.argv[3]} records streamed, {sys.argv[4]} thread(s): wall {float(wall):.2f} s, "
      f"read {t['read']:.2f} s, fit {t['fit']:.2f} s, peak {int(peak) // 1024} MiB")
EOF
    done
fi
