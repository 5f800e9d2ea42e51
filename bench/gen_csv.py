#!/usr/bin/env python3
"""Writes a deterministic synthetic CSV for the general-linear-model benchmark.

    bench/gen_csv.py OUT.csv [RECORDS] [SEED]

Columns: y, A, B, C, x1, x2. Factors A, B and C have 5, 10 and 20 categories
labelled a1.., b01.., c01..; x1 ~ N(50, 10), x2 ~ U(0, 100); y follows
y ~ A + B + C + x1 + x2 + A*B + A*x1 with normal noise. The file is written
as R's write.csv(row.names = FALSE) writes it: names and texts quoted,
numbers to 15 significant digits (about 68 bytes a record). The same
arguments always give the same file (standard library only, fixed seed).
"""
import random
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 20240611)

    a_lab = [f"a{i + 1}" for i in range(5)]
    b_lab = [f"b{i + 1:02d}" for i in range(10)]
    c_lab = [f"c{i + 1:02d}" for i in range(20)]
    a_eff = [rng.uniform(-5, 5) for _ in a_lab]
    b_eff = [rng.uniform(-3, 3) for _ in b_lab]
    c_eff = [rng.uniform(-2, 2) for _ in c_lab]
    ab_eff = [[rng.uniform(-1, 1) for _ in b_lab] for _ in a_lab]
    a_slope = [rng.uniform(-0.2, 0.2) for _ in a_lab]

    with open(out, "w", newline="", buffering=1 << 20) as f:
        f.write('"y","A","B","C","x1","x2"\n')
        rows = []
        for _ in range(n):
            a = rng.randrange(5)
            b = rng.randrange(10)
            c = rng.randrange(20)
            x1 = rng.gauss(50.0, 10.0)
            x2 = rng.uniform(0.0, 100.0)
            y = (12.0 + a_eff[a] + b_eff[b] + c_eff[c] + 0.5 * x1 - 0.03 * x2 + ab_eff[a][b]
                 + a_slope[a] * x1 + rng.gauss(0.0, 2.0))
            rows.append(f'{y:.15g},"{a_lab[a]}","{b_lab[b]}","{c_lab[c]}",{x1:.15g},{x2:.15g}\n')
            if len(rows) == 10000:
                f.write("".join(rows))
                rows.clear()
        f.write("".join(rows))


if __name__ == "__main__":
    main()
