#!/usr/bin/env bash
# Times the XML documents of `mcreg glm` on models with many parameters:
# y ~ A + B + A*B with A and B of 20 levels (441 parameters, 8,000 records)
# and of 40 levels (1,681 parameters, 20,000 records), and y ~ G + x with a
# factor of 5,000 levels (5,002 parameters, 50,000 records), whose PMML
# leaves out the covariance by default and is also timed with it
# (--pmml-covariance always: 12.5 million cells, about 1 GB).
#
# A document's time is the wall time of the run that writes it less that of
# the same run without it (the median of RUNS each); it should be at most
# the fit's time plus the time to write its bytes at 100 MB/s. Peak memory
# is the run's. Not part of CI; needs a build of the program (a Release
# build for numbers worth comparing) and /usr/bin/time.
#   bench/bench_xml.sh [RUNS]
# Environment: BUILD=build folder (default build-rel), BENCH_DIR=folder for
# the generated data and documents (default /tmp/mcreg-bench; the largest
# document takes 1 GB there).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
build=${BUILD:-build-rel}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
mcreg=$build/cli/mcreg
[ -x "$mcreg" ] || { echo "build $mcreg first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
mkdir -p "$dir"

data() {  # kind levels records -> file
    local f="$dir/xml_$1$2_$3.csv"
    [ -s "$f" ] || python3 bench/gen_xml_models.py "$1" "$2" "$3" "$f"
    echo "$f"
}

# Runs the model RUNS times with the given extra options and prints the
# medians: wall seconds, peak MiB, fit seconds.
measure() {  # csv formula [options...]
    local csv=$1 formula=$2
    shift 2
    rm -f "$dir/runs.txt"
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$dir/time.txt" "$mcreg" glm --data "$csv" \
            --formula "$formula" --json --timing "$@" >"$dir/out.json" 2>"$dir/err.txt"
        python3 - "$dir/time.txt" "$dir/out.json" >>"$dir/runs.txt" <<'PY'
import json, sys
wall, peak = open(sys.argv[1]).read().split()[-2:]
print(wall, peak, json.load(open(sys.argv[2]))["timing_seconds"]["fit"])
PY
    done
    python3 - "$dir/runs.txt" <<'PY'
import statistics as st, sys
rows = [list(map(float, l.split())) for l in open(sys.argv[1]) if l.strip()]
print(*(st.median(r[k] for r in rows) for k in range(3)))
PY
}

report() {  # label csv formula document-option [options...]
    local label=$1 csv=$2 formula=$3 option=$4
    shift 4
    local doc="$dir/doc.xml"
    read -r base _ fit < <(measure "$csv" "$formula")
    read -r wall peak _ < <(measure "$csv" "$formula" "$option" "$doc" "$@")
    local bytes
    bytes=$(stat -c %s "$doc")
    python3 - "$label" "$base" "$wall" "$peak" "$fit" "$bytes" <<'PY'
import sys
label = sys.argv[1]
base, wall, peak, fit, size = map(float, sys.argv[2:])
doc = max(wall - base, 0.0)
limit = fit + size / 100e6
print(f"{label:<34} {size / 1e6:9.1f} MB  document {doc:6.2f} s  (fit {fit:5.2f} s, "
      f"limit {limit:6.2f} s: {'ok' if doc <= limit else 'SLOWER'})  peak {peak / 1024:7.1f} MiB")
PY
    rm -f "$doc"
}

ab20=$(data ab 20 8000)
ab40=$(data ab 40 20000)
g5000=$(data g 5000 50000)
echo "median of $runs runs; $mcreg"
report "A*B 20x20  --pmml" "$ab20" "y ~ A + B + A*B" --pmml
report "A*B 20x20  --results-xml" "$ab20" "y ~ A + B + A*B" --results-xml
report "A*B 40x40  --pmml" "$ab40" "y ~ A + B + A*B" --pmml
report "A*B 40x40  --results-xml" "$ab40" "y ~ A + B + A*B" --results-xml
report "G 5000     --pmml" "$g5000" "y ~ G + x" --pmml
report "G 5000     --pmml, covariance" "$g5000" "y ~ G + x" --pmml --pmml-covariance always
report "G 5000     --results-xml" "$g5000" "y ~ G + x" --results-xml
