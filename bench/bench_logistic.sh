#!/usr/bin/env bash
# Times the multinomial benchmark model (500,000 records; A with 5 and B with
# 10 categories, covariates x1 and x2, a 4-category response; 48
# coefficients): through the library in process with either data handler
# (bench/fit_logistic), and through `mcreg logistic` on the same data as a
# CSV, in memory and streamed. With a Release build of the benchmarks
# (-DMCREG_BUILD_BENCH=ON). Not part of CI.
#   bench/bench_logistic.sh [RECORDS [RUNS]]
# Environment: BUILD=build folder (default build-rel), BENCH_DIR=folder for
# the generated data (default /tmp/mcreg-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-500000}
runs=${2:-5}
build=${BUILD:-build-rel}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
fit=$build/bench/fit_logistic
mcreg=$build/cli/mcreg
[ -x "$fit" ] && [ -x "$mcreg" ] || { echo "build $fit and $mcreg first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
mkdir -p "$dir"
csv="$dir/mlogit_$n.csv"
[ -s "$csv" ] || "$fit" "$n" --csv "$csv" >/dev/null

median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

for handler in records patterns; do
    for _ in $(seq "$runs"); do
        "$fit" "$n" "$handler" | sed -n 's/^fit seconds \([0-9.]*\).*/\1/p'
    done | median | xargs printf "library, %-8s  fit %.3f s (median of $runs)\n" "$handler"
done
"$fit" "$n" records | grep -E "^(iterations|peak)"

for limit in "" 0; do
    rm -f "$dir/runs.txt"
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$mcreg" logistic --data "$csv" \
            --formula "y ~ A + B + x1 + x2" --factors A,B --json --timing ${limit:+--memory-limit $limit} \
            >"$dir/out.json"
        python3 - "$dir/time.txt" "$dir/out.json" >>"$dir/runs.txt" <<'PY'
import json, sys
wall, peak = open(sys.argv[1]).read().split()[-2:]
t = json.load(open(sys.argv[2]))["timing_seconds"]
print(wall, peak, t["read"], t["fit"])
PY
    done
    python3 - "$dir/runs.txt" "${limit:-in memory}" <<'PY'
import statistics as st, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
med = lambda k: st.median(r[k] for r in rows)
print(f"mcreg logistic, {'streamed' if sys.argv[2] == '0' else 'in memory':<9}  wall {med(0):.3f} s  "
      f"peak {med(1) / 1024:.1f} MiB  read {med(2):.3f} s  fit {med(3):.3f} s (median of {len(rows)})")
PY
done
