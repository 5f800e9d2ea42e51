#!/usr/bin/env bash
# Times `mcreg predict` on synthetic records (bench/gen_csv.py) against
# reading them alone: the same command with an intercept-only model, which
# reads the file and writes a constant. The model is fitted once on the
# same data. Not part of CI.
#   bench/bench_predict.sh [RECORDS [RUNS]]
#     RECORDS  default 1000000
#     RUNS     default 3: runs per figure; the median is shown
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
csv="$dir/glm_$n.csv"
if [ ! -s "$csv" ]; then
    echo "generating $csv" >&2
    python3 bench/gen_csv.py "$csv.tmp" "$n" && mv "$csv.tmp" "$csv"
fi
"$mcreg" glm --data "$csv" --formula "$formula" --pmml "$dir/model.pmml" >/dev/null
"$mcreg" glm --data "$csv" --formula "y ~ 1" --pmml "$dir/constant.pmml" >/dev/null

median() {  # median LABEL COMMAND...: the median wall seconds of RUNS runs
    local label=$1
    shift
    local times=()
    for ((r = 0; r < runs; ++r)); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        times+=("$(echo "$end - $start" | bc)")
    done
    printf '%-34s %8.3f s\n' "$label" "$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")"
}

echo "$n records, $(du -h "$csv" | cut -f1)"
median "read only (intercept model)" "$mcreg" predict --model "$dir/constant.pmml" --data "$csv" --output /dev/null
median "predict" "$mcreg" predict --model "$dir/model.pmml" --data "$csv" --output /dev/null
median "predict --se --interval confidence" "$mcreg" predict --model "$dir/model.pmml" --data "$csv" \
    --output /dev/null --se --interval confidence
