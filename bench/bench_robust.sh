#!/usr/bin/env bash
# Times the robust covariances of `mcreg glm` on a synthetic CSV of
# bench/gen_csv.py with a cluster column g added (RECORDS / 10 clusters of
# ten consecutive records): the fit with the model-based covariance, with
# --vcov hc3 and with --cluster g (the program's own fit timing, the median
# of RUNS, and the peak memory of one run when /usr/bin/time is there),
# and R's lm with sandwich::vcovHC(type = "HC3") and
# vcovCL(type = "HC1") on the same file when Rscript is installed. Not
# part of CI.
#   bench/bench_robust.sh [RECORDS [RUNS]]   (defaults 1000000 and 3)
# Environment: MCREG=path/to/mcreg (default build/cli/mcreg),
#              BENCH_DIR=folder for the generated data (default /tmp/mcreg-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000000}
runs=${2:-3}
mcreg=${MCREG:-build/cli/mcreg}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
formula="y ~ A + B + C + x1 + x2 + A*B + A*x1"
[ -x "$mcreg" ] || { echo "no program at $mcreg (build it, or set MCREG)" >&2; exit 1; }
mkdir -p "$dir"

csv="$dir/robust_$n.csv"
if [ ! -s "$csv" ]; then
    echo "generating $csv" >&2
    python3 bench/gen_csv.py "$csv.base" "$n"
    python3 - "$csv.base" "$csv.tmp" <<'PY'
import sys
with open(sys.argv[1]) as src, open(sys.argv[2], "w") as out:
    out.write(src.readline().rstrip("\n") + ',"g"\n')
    for i, line in enumerate(src):
        out.write(f"{line.rstrip()},{i // 10}\n")
PY
    rm "$csv.base"
    mv "$csv.tmp" "$csv"
fi

fit_seconds() {  # the median fit time of the program with these options
    for _ in $(seq "$runs"); do
        "$mcreg" glm --data "$csv" --formula "$formula" --json --timing "$@" |
            python3 -c 'import json, sys; print(json.load(sys.stdin)["timing_seconds"]["fit"])'
    done | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

peak_mb() {  # the peak resident memory of one run with these options
    [ -x /usr/bin/time ] || { echo "-"; return; }
    /usr/bin/time -f "%M" "$mcreg" glm --data "$csv" --formula "$formula" --json "$@" 2>&1 \
        >/dev/null | tail -n 1 | awk '{printf "%.0f MB", $1 / 1024}'
}

echo "mcreg glm, $n records, fit seconds (median of $runs), peak memory:"
printf '  model-based            %s  %s\n' "$(fit_seconds)" "$(peak_mb)"
printf '  --vcov hc3             %s  %s\n' "$(fit_seconds --vcov hc3)" "$(peak_mb --vcov hc3)"
printf '  --cluster g (%d)  %s  %s\n' $((n / 10)) "$(fit_seconds --cluster g)" \
    "$(peak_mb --cluster g)"

if command -v Rscript >/dev/null; then
    Rscript - "$csv" <<'R'
suppressPackageStartupMessages(library(sandwich))
d <- read.csv(commandArgs(TRUE)[1])
t_fit <- system.time(fit <- lm(y ~ A + B + C + x1 + x2 + A:B + A:x1, data = d))[["elapsed"]]
t_hc3 <- system.time(vcovHC(fit, type = "HC3"))[["elapsed"]]
t_cl <- system.time(vcovCL(fit, cluster = d$g, type = "HC1"))[["elapsed"]]
cat(sprintf("R lm %.2f s, then sandwich::vcovHC(HC3) %.2f s, vcovCL(HC1) %.2f s\n",
            t_fit, t_hc3, t_cl))
R
fi
