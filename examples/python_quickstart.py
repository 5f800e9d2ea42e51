#!/usr/bin/python3
"""The two-way analysis of examples/README.md from pandas.

Miles per gallon by transmission (am) and number of cylinders (cyl), both
numeric columns fitted as factors: the parameter table, the Type III tests,
the marginal means of am*cyl with Bonferroni-adjusted comparisons of cyl
within am and a polynomial contrast on the cylinder counts, and the model
as PMML.

    PYTHONPATH=build/python /usr/bin/python3 examples/python_quickstart.py [OUT.pmml]
"""
import pathlib
import sys

import pandas as pd

import mcreg

here = pathlib.Path(__file__).resolve().parent
cars = pd.read_csv(here / "mtcars.csv")

fit = mcreg.glm("mpg ~ am + cyl + am*cyl", cars, factors=["am", "cyl"])
print(fit.params[["estimate", "std_error", "t", "sig"]])
print(fit.fit)
print(fit.tests(types=(3,))[3])

em = fit.emmeans("am*cyl", compare="cyl", adjust="bonferroni", contrast="polynomial",
                 metric=[4, 6, 8])
print(em["means"])
print(em["pairwise"])
print(em["contrast"])

out = sys.argv[1] if len(sys.argv) > 1 else "mtcars.pmml"
fit.to_pmml(out)
print("wrote", out)
