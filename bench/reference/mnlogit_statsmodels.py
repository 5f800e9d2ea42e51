"""Fits the multinomial benchmark model with statsmodels' MNLogit, for a
side-by-side timing with mcreg (Debian python3-statsmodels):

    build-rel/bench/fit_logistic 500000 --csv /tmp/mlogit.csv
    /usr/bin/python3 bench/reference/mnlogit_statsmodels.py /tmp/mlogit.csv

Model y ~ A + B + x1 + x2 with A and B as factors and the last category of y
as the reference, as mcreg fits it; prints the fit seconds and the
log-likelihood.
"""
import sys
import time

import numpy as np
import pandas as pd
import statsmodels.api as sm

data = pd.read_csv(sys.argv[1])
X = pd.get_dummies(data[["A", "B"]].astype("category"), drop_first=False)
# The last level of each factor is the baseline, as in mcreg's coding.
X = X.drop(columns=["A_4", "B_9"]).astype(float)
X["x1"] = data["x1"]
X["x2"] = data["x2"]
X = sm.add_constant(X)
# MNLogit takes the first category as the reference: recode so that mcreg's
# reference (the last) comes first.
y = (data["y"] + 1) % 4
start = time.perf_counter()
fit = sm.MNLogit(y, X).fit(method="newton", maxiter=100, disp=False)
seconds = time.perf_counter() - start
print(f"statsmodels MNLogit: fit seconds {seconds:.3f}  log-likelihood {fit.llf:.10f}")
