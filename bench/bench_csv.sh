#!/usr/bin/env bash
# Times the mcreg program on a synthetic CSV (and R's lm on the same file when
# Rscript is installed). Not part of CI.
#   bench/bench_csv.sh [RECORDS]        default 1000000
# Environment: MCREG=path/to/mcreg (default build/cli/mcreg),
#              BENCH_DIR=folder for the generated data (default /tmp/mcreg-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000000}
mcreg=${MCREG:-build/cli/mcreg}
dir=${BENCH_DIR:-/tmp/mcreg-bench}
formula="y ~ A + B + C + x1 + x2 + A*B + A*x1"

[ -x "$mcreg" ] || { echo "no program at $mcreg (build it, or set MCREG)" >&2; exit 1; }
mkdir -p "$dir"
csv="$dir/glm_$n.csv"
if [ ! -s "$csv" ]; then
    echo "generating $csv"
    python3 bench/gen_csv.py "$csv" "$n"
fi
bytes=$(stat -c %s "$csv")

start=$(date +%s.%N)
"$mcreg" glm --data "$csv" --formula "$formula" --json >"$dir/mcreg.json"
end=$(date +%s.%N)

python3 - "$dir/mcreg.json" "$bytes" "$start" "$end" >"$dir/mcreg.txt" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1]))
t = r["timing_seconds"]
mb = int(sys.argv[2]) / 1e6
wall = float(sys.argv[4]) - float(sys.argv[3])
print(f"{t['read']:.3f} {t['fit']:.3f} {wall:.3f}")
print(f"mcreg: {r['records']['used']} records, {len(r['parameters'])} parameters, "
      f"R-square {r['fit']['r_square']:.6f}", file=sys.stderr)
print(f"mcreg: read {t['read']:.3f} s ({mb / t['read']:.1f} MB/s of {mb:.1f} MB CSV), "
      f"fit {t['fit']:.3f} s, wall {wall:.3f} s", file=sys.stderr)
EOF
read -r m_read m_fit m_wall <"$dir/mcreg.txt"

if command -v Rscript >/dev/null; then
    # R expands A*B into A + B + A:B itself; the interaction terms alone give the same span.
    Rscript - "$csv" <<'EOF' >"$dir/r.txt"
f <- commandArgs(TRUE)[1]
t0 <- proc.time()[["elapsed"]]
d <- read.csv(f, stringsAsFactors = TRUE)
t1 <- proc.time()[["elapsed"]]
fit <- lm(y ~ A + B + C + x1 + x2 + A:B + A:x1, data = d)
s <- summary(fit)
t2 <- proc.time()[["elapsed"]]
cat(t1 - t0, t2 - t1, s$r.squared, "\n")
EOF
    read -r r_read r_fit r_rsq <"$dir/r.txt"
    python3 - "$m_read" "$m_fit" "$r_read" "$r_fit" "$r_rsq" "$bytes" <<'EOF'
import sys
mr, mf, rr, rf, rsq, b = map(float, sys.argv[1:])
mb = b / 1e6
print(f"R:     read.csv {rr:.3f} s ({mb / rr:.1f} MB/s), lm + summary {rf:.3f} s, "
      f"R-square {rsq:.6f}")
print(f"ratio R / mcreg: read {rr / mr:.1f}x, fit {rf / mf:.1f}x, total {(rr + rf) / (mr + mf):.1f}x")
EOF
fi
