#!/usr/bin/env bash
# Times the mcreg program as a whole process on synthetic CSV files written
# as R's write.csv writes them (bench/gen_csv.py), in memory and streamed
# through its temporary record file (--memory-limit 0), and R's read.csv +
# lm + summary on the same file when Rscript is installed. Not part of CI.
#   bench/bench_csv.sh [RECORDS [BIG_RECORDS [RUNS]]]
#     RECORDS      default 1000000: read MB/s, fit seconds, wall, peak memory
#     BIG_RECORDS  default 20000000 (about 1.35 GB; 0 skips): wall and peak memory
#     RUNS         default 5: runs per figure at RECORDS; the median is shown
# Environment: MCREG=path/to/mcreg (default build/cli/mcreg),
#              BENCH_DIR=folder for the generated data (default /tmp/mcreg-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000000}
big=${2:-20000000}
runs=${3:-5}
mcreg=${MCREG:-build/cli/mcreg}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
formula="y ~ A + B + C + x1 + x2 + A*B + A*x1"

[ -x "$mcreg" ] || { echo "no program at $mcreg (build it, or set MCREG)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
mkdir -p "$dir"

data() {  # data RECORDS -> path of the CSV, generated once
    local csv="$dir/glm_$1.csv"
    if [ ! -s "$csv" ]; then
        echo "generating $csv" >&2
        python3 bench/gen_csv.py "$csv.tmp" "$1" && mv "$csv.tmp" "$csv"
    fi
    echo "$csv"
}

# One run of a command: appends "wall_s peak_kb [read_s fit_s]" to $dir/runs.txt.
run() {
    local json="$dir/out.json"
    /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$@" >"$json"
    python3 - "$dir/time.txt" "$json" >>"$dir/runs.txt" <<'EOF'
import json, sys
wall, peak = open(sys.argv[1]).read().split()[-2:]
try:
    t = json.load(open(sys.argv[2]))["timing_seconds"]
    print(wall, peak, t["read"], t["fit"])
except Exception:
    print(wall, peak)
EOF
}

# The medians of the runs so far, as one line: label, bytes of data.
report() {
    python3 - "$dir/runs.txt" "$1" "$2" <<'EOF'
import statistics as st, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
label, mb = sys.argv[2], int(sys.argv[3]) / 1e6
med = lambda k: st.median(r[k] for r in rows)
line = f"{label:<28} wall {med(0):6.3f} s  peak {med(1) / 1024:7.1f} MiB"
if len(rows[0]) > 2:
    line += f"  read {med(2):.3f} s ({mb / med(2):5.0f} MB/s)  fit {med(3):.3f} s"
print(line + f"   [median of {len(rows)}]")
EOF
    rm -f "$dir/runs.txt"
}

measure() {  # measure LABEL BYTES RUNS COMMAND...
    local label=$1 bytes=$2 count=$3
    shift 3
    rm -f "$dir/runs.txt"
    "$@" >/dev/null  # warm the page cache
    for _ in $(seq "$count"); do run "$@"; done
    report "$label" "$bytes"
}

csv=$(data "$n")
bytes=$(stat -c %s "$csv")
echo "$n records, $(( bytes / 1000000 )) MB: $csv"
measure "mcreg glm, in memory" "$bytes" "$runs" \
    "$mcreg" glm --data "$csv" --formula "$formula" --json --timing
measure "mcreg glm, streamed" "$bytes" "$runs" \
    "$mcreg" glm --data "$csv" --formula "$formula" --json --timing --memory-limit 0

if command -v Rscript >/dev/null; then
    # R expands A*B into A + B + A:B itself; the interaction terms alone give the same span.
    cat >"$dir/lm.R" <<'EOF'
d <- read.csv(commandArgs(TRUE)[1], stringsAsFactors = TRUE)
s <- summary(lm(y ~ A + B + C + x1 + x2 + A:B + A:x1, data = d))
cat(s$r.squared, "\n")
EOF
    measure "Rscript read.csv+lm+summary" "$bytes" "$(( runs < 3 ? runs : 3 ))" \
        Rscript "$dir/lm.R" "$csv"
    echo "R-square: R $(Rscript "$dir/lm.R" "$csv"), mcreg $("$mcreg" glm --data "$csv" \
        --formula "$formula" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["fit"]["r_square"])')"
fi

if [ "$big" -gt 0 ]; then
    csv=$(data "$big")
    bytes=$(stat -c %s "$csv")
    echo "$big records, $(( bytes / 1000000 )) MB: $csv"
    measure "mcreg glm, in memory" "$bytes" 1 \
        "$mcreg" glm --data "$csv" --formula "$formula" --json --timing
    measure "mcreg glm, streamed" "$bytes" 1 \
        "$mcreg" glm --data "$csv" --formula "$formula" --json --timing --memory-limit 0
fi
