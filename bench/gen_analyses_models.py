#!/usr/bin/env python3
"""Writes the data sets with many parameters of bench/bench_analyses.sh.

    bench/gen_analyses_models.py cov COVARIATES RECORDS OUT.csv
    bench/gen_analyses_models.py g LEVELS RECORDS OUT.csv

"cov": covariates x1..xK, each sharing a component with its neighbour (so
the sequential and partial sums of squares differ), and y from the first
half of them plus normal noise, for y ~ x1 + ... + xK. "g": one factor G of
LEVELS categories (g0001..) with unequal counts, every category observed,
and covariates x1 and x2, for y ~ G + x1 + x2. The same arguments always
give the same file (standard library only, fixed seed).
"""
import random
import sys


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("cov", "g"):
        sys.exit(__doc__)
    kind, k, n, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    rng = random.Random(20261206)
    with open(out, "w", newline="", buffering=1 << 20) as f:
        if kind == "cov":
            beta = [rng.gauss(0.0, 0.5) if j < k // 2 else 0.0 for j in range(k)]
            f.write("y," + ",".join(f"x{j + 1}" for j in range(k)) + "\n")
            for _ in range(n):
                z = [rng.gauss(0.0, 1.0) for _ in range(k + 1)]
                x = [z[j + 1] + 0.6 * z[j] for j in range(k)]
                y = 10.0 + sum(b * v for b, v in zip(beta, x)) + rng.gauss(0.0, 2.0)
                f.write(f"{y:.8g}," + ",".join(f"{v:.6g}" for v in x) + "\n")
        else:
            g_eff = [rng.uniform(-5, 5) for _ in range(k)]
            width = len(str(k))
            f.write("y,G,x1,x2\n")
            for i in range(n):
                # The first pass observes every category; then the early
                # categories are the common ones.
                g = i if i < k else int(k * rng.random() ** 2)
                x1, x2 = rng.uniform(0.0, 10.0), rng.gauss(0.0, 1.0)
                y = 10.0 + g_eff[g] + 0.5 * x1 - 0.8 * x2 + rng.gauss(0.0, 1.0)
                f.write(f"{y:.8g},g{g + 1:0{width}d},{x1:.6g},{x2:.6g}\n")


if __name__ == "__main__":
    main()
