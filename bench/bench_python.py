#!/usr/bin/python3
"""Times the Python package against statsmodels on the benchmark data.

    PYTHONPATH=build/python /usr/bin/python3 bench/bench_python.py [--mcreg-only] [GLM_RECORDS]

mcreg.glm on bench/gen_csv.py's general linear model data (1,000,000
records by default; y ~ A + B + C + x1 + x2 + A*B + A*x1) against
smf.ols(...).fit() on the same DataFrame, and mcreg.logistic against
MNLogit on the 500,000-record multinomial data (bench/fit_logistic --csv),
each in a fresh process: the seconds of the fit and the peak resident
memory above what the process held once the DataFrame was loaded. Not part
of CI. --mcreg-only leaves out statsmodels, which takes minutes. BENCH_DIR is the folder of the generated data (/tmp/mcreg-bench).
"""
import os
import pathlib
import resource
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
DIR = pathlib.Path(os.environ.get("BENCH_DIR", "/tmp/mcreg-bench"))


def status_mb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return 0.0


def rss_mb():
    return status_mb("VmRSS")


def reset_peak():
    """Starts the peak afresh, so that read_csv's own peak, which is higher
    than the DataFrame it leaves, is not counted against the fit."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def peak_mb(reset):
    if reset:
        return status_mb("VmHWM")
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def child(which, csv):
    import numpy as np
    import pandas as pd
    df = pd.read_csv(csv, float_precision="round_trip")
    base = rss_mb()
    reset = reset_peak()
    start = time.perf_counter()
    if which == "mcreg-glm":
        import mcreg
        mcreg.glm("y ~ A + B + C + x1 + x2 + A*B + A*x1", df)
    elif which == "statsmodels-ols":
        import statsmodels.formula.api as smf
        smf.ols("y ~ A + B + C + x1 + x2 + A:B + A:x1", df).fit()
    elif which == "mcreg-logit":
        import mcreg
        mcreg.logistic("y ~ A + B + x1 + x2", df, factors=["A", "B"])
    elif which == "statsmodels-logit":
        import statsmodels.api as sm
        X = pd.get_dummies(df[["A", "B"]].astype(str), drop_first=True).astype(float)
        X[["x1", "x2"]] = df[["x1", "x2"]]
        sm.MNLogit(df["y"].to_numpy(), sm.add_constant(X)).fit(method="newton", disp=False)
    seconds = time.perf_counter() - start
    print(f"{which:18s} fit {seconds:7.2f} s   peak memory above the DataFrame "
          f"{max(0.0, peak_mb(reset) - base):8.0f} MB (DataFrame process {base:.0f} MB)")


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--child":
        child(sys.argv[2], sys.argv[3])
        return
    args = sys.argv[1:]
    mcreg_only = "--mcreg-only" in args
    args = [a for a in args if a != "--mcreg-only"]
    n = int(args[0]) if args else 1_000_000
    DIR.mkdir(parents=True, exist_ok=True)
    glm_csv = DIR / f"glm_{n}.csv"
    if not glm_csv.exists():
        subprocess.run([sys.executable, str(HERE / "gen_csv.py"), str(glm_csv), str(n)], check=True)
    logit_csv = DIR / "mlogit_500000.csv"
    runs = [("mcreg-glm", glm_csv), ("statsmodels-ols", glm_csv)]
    if logit_csv.exists():
        runs += [("mcreg-logit", logit_csv), ("statsmodels-logit", logit_csv)]
    else:
        print(f"{logit_csv} missing: make it with build-rel/bench/fit_logistic 500000 --csv FILE")
    if mcreg_only:
        runs = [r for r in runs if r[0].startswith("mcreg")]
    for which, csv in runs:
        subprocess.run([sys.executable, __file__, "--child", which, str(csv)], check=True)


if __name__ == "__main__":
    main()
