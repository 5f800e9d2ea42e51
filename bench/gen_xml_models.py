#!/usr/bin/env python3
"""Writes the data sets of the XML-document benchmark (bench/bench_xml.sh).

    bench/gen_xml_models.py ab LEVELS RECORDS OUT.csv
    bench/gen_xml_models.py g LEVELS RECORDS OUT.csv

"ab": factors A and B of LEVELS categories each (a01.., b01..), every cell
observed, y with main effects, an interaction and normal noise, for
y ~ A + B + A*B ((LEVELS + 1)^2 parameters). "g": one factor G of LEVELS
categories (g0001..), every category observed, and a covariate x, for
y ~ G + x. Records go through the cells in turn, so every cell has records
whatever the seed. The same arguments always give the same file (standard
library only, fixed seed).
"""
import random
import sys


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("ab", "g"):
        sys.exit(__doc__)
    kind, levels, n, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    rng = random.Random(20250325)
    width = len(str(levels))
    with open(out, "w", newline="", buffering=1 << 20) as f:
        if kind == "ab":
            a_eff = [rng.uniform(-5, 5) for _ in range(levels)]
            b_eff = [rng.uniform(-3, 3) for _ in range(levels)]
            f.write("y,A,B\n")
            for i in range(n):
                a, b = i % levels, (i // levels) % levels
                y = 10.0 + a_eff[a] + b_eff[b] + 0.1 * a_eff[a] * b_eff[b] + rng.gauss(0.0, 1.0)
                f.write(f"{y:.10g},a{a + 1:0{width}d},b{b + 1:0{width}d}\n")
        else:
            g_eff = [rng.uniform(-5, 5) for _ in range(levels)]
            f.write("y,G,x\n")
            for i in range(n):
                g = i % levels
                x = rng.uniform(0.0, 10.0)
                y = 10.0 + g_eff[g] + 0.5 * x + rng.gauss(0.0, 1.0)
                f.write(f"{y:.10g},g{g + 1:0{width}d},{x:.10g}\n")


if __name__ == "__main__":
    main()
