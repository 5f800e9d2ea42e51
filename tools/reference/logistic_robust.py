"""Golden robust covariances of the multinomial logistic model (mcreg
logistic --vcov hc0|hc1, --cluster one or two columns) from statsmodels'
MNLogit.

Writes tests/golden/logistic_robust_cases.json: per case the command
arguments and, for every parameter in the program's order (logit by logit,
the reference category first and left out; within a logit the intercept,
the factor's categories with the last one redundant, the covariate), the
estimate and robust standard error (null for a redundant parameter), and
the robust covariance of the parameters that are not redundant.
Frequency weights are replication counts: the records are repeated.
Run from the repository root with Debian's python:
    /usr/bin/python3 tools/reference/logistic_robust.py
"""
import csv
import json

import numpy as np
import statsmodels.api as sm

rows = list(csv.DictReader(open("tests/golden/cli_logistic.csv", encoding="utf-8-sig")))


def case(name, cov_type, fw, cluster=None):
    used = [r for r in rows if r["y"] not in ("", "NA") and r["A"] not in ("", "NA")
            and r["x"] not in ("", "NA") and (not fw or float(r["f"]) > 0)]
    cats = sorted({r["y"] for r in used}, key=lambda s: s.encode())
    levels = sorted({r["A"] for r in used}, key=lambda s: s.encode())
    y = np.array([cats.index(r["y"]) for r in used])
    X = np.array([[1.0] + [1.0 if r["A"] == a else 0.0 for a in levels[:-1]] + [float(r["x"])]
                  for r in used])
    groups = np.array([float(r[cluster]) for r in used]) if cluster else None
    if fw:
        reps = np.array([int(float(r["f"])) for r in used])
        y, X = np.repeat(y, reps), np.repeat(X, reps, axis=0)
        if cluster:
            groups = np.repeat(groups, reps)
    # statsmodels gives a maximum-likelihood model's HC1 without a factor
    # (its HC0): the factor n / (n - k) of least squares is applied here.
    # Clusters: statsmodels' factor G / (G - 1) (n - 1) / (n - k).
    kwds = {"cov_type": "cluster", "cov_kwds": {"groups": groups}} if cluster else \
        {"cov_type": "HC0"}
    fit = sm.MNLogit(y, X).fit(method="newton", tol=1e-14, maxiter=200, disp=False, **kwds)
    V = np.asarray(fit.cov_params())
    if cov_type == "HC1":
        n, k_all = len(y), V.shape[0]
        V = V * n / (n - k_all)
    b = np.asarray(fit.params)  # basic parameters by logit
    k = X.shape[1]
    params = []
    for logit in range(len(cats) - 1):
        for j in range(k + 1):  # the program's basic row: the last level too
            if j == len(levels):  # [A=last], redundant
                params.append({"estimate": 0.0, "std_error": None, "redundant": True})
                continue
            c = j if j < len(levels) else j - 1
            at = logit * k + c
            params.append({"estimate": float(b[c, logit]),
                           "std_error": float(np.sqrt(V[at, at])), "redundant": False})
    args = ["--data", "cli_logistic.csv", "--formula", "y ~ A + x", "--reference", "first"]
    args += ["--cluster", cluster] if cluster else ["--vcov", cov_type.lower()]
    if fw:
        args += ["--freq-weight", "f"]
    return {"case": name, "args": args,
            "expected": {"parameters": params, "covariance": V.tolist()}}


def two_way_case(name, fw):
    """A ~ x on tests/golden/cli_cluster.csv clustered by g and h (records
    without g left out)."""
    data = list(csv.DictReader(open("tests/golden/cli_cluster.csv", encoding="utf-8-sig")))
    used = [r for r in data if r["g"] != "" and r["h"] != ""]
    cats = sorted({r["A"] for r in used}, key=lambda s: s.encode())
    y = np.array([cats.index(r["A"]) for r in used])
    X = np.array([[1.0, float(r["x"])] for r in used])
    groups = np.column_stack([np.unique([r[c] for r in used], return_inverse=True)[1]
                              for c in ("g", "h")])
    if fw:
        reps = np.array([int(float(r["f"])) for r in used])
        y, X, groups = np.repeat(y, reps), np.repeat(X, reps, axis=0), np.repeat(groups, reps, 0)
    # statsmodels sums V_g + V_h - V_(g and h), each with its own
    # G / (G - 1) (n - 1) / (n - k): the program's convention. It keeps
    # negative eigenvalues, which the program (as sandwich's vcovCL(fix =
    # TRUE)) sets to 0; that is done here.
    fit = sm.MNLogit(y, X).fit(method="newton", tol=1e-14, maxiter=200, disp=False,
                               cov_type="cluster", cov_kwds={"groups": groups})
    V = np.asarray(fit.cov_params())
    values, vectors = np.linalg.eigh(V)
    if values.min() < 0:
        V = (vectors * np.maximum(values, 0.0)) @ vectors.T
    b = np.asarray(fit.params)
    params = [{"estimate": float(b[c, logit]),
               "std_error": float(np.sqrt(V[logit * 2 + c, logit * 2 + c])), "redundant": False}
              for logit in range(len(cats) - 1) for c in range(2)]
    args = ["--data", "cli_cluster.csv", "--formula", "A ~ x", "--reference", "first",
            "--cluster", "g", "h"]
    if fw:
        args += ["--freq-weight", "f"]
    return {"case": name, "args": args,
            "expected": {"parameters": params, "covariance": V.tolist(),
                         "groups": [int(len(np.unique(groups[:, c]))) for c in range(2)],
                         "negative_eigenvalues": int((values < 0).sum())}}


cases = [case("hc0", "HC0", False), case("hc1_frequency_weight", "HC1", True),
         case("cluster", None, False, "B"), case("cluster_frequency_weight", None, True, "B"),
         two_way_case("two_way_cluster", False),
         two_way_case("two_way_cluster_frequency_weight", True)]
with open("tests/golden/logistic_robust_cases.json", "w") as out:
    json.dump(cases, out, indent=1)
    out.write("\n")
