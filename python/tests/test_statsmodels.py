# Agreement with statsmodels on the same data frames: OLS, WLS and MNLogit.
import warnings

import mpmath
import numpy as np
import pandas as pd
import pytest
import statsmodels.api as sm
import statsmodels.formula.api as smf

import mcreg

from conftest import EXAMPLES

TOL = 1e-8


def close(a, b, tol=TOL):
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    assert a.shape == b.shape
    scale = np.maximum(1.0, np.abs(b))
    assert np.max(np.abs(a - b) / scale) <= tol, (a, b)


def numeric_frame(n=400, seed=1):
    rng = np.random.default_rng(seed)
    x1 = rng.normal(10, 3, n)
    x2 = rng.uniform(-1, 1, n)
    w = rng.uniform(0.5, 2.0, n)
    y = 1.5 + 0.3 * x1 - 2.0 * x2 + 0.1 * x1 * x2 + rng.normal(0, 1, n) / np.sqrt(w)
    return pd.DataFrame({"y": y, "x1": x1, "x2": x2, "w": w})


def t_quantile(p, df):
    mpmath.mp.dps = 40
    df = mpmath.mpf(df)
    tail = mpmath.mpf(1) - mpmath.mpf(p)
    f = lambda q: mpmath.betainc(df / 2, 0.5, 0, df / (df + q * q), regularized=True) / 2 - tail
    return float(mpmath.findroot(f, 2.0))


def check_ols(fit, ref):
    kept = fit.params[~fit.params["redundant"]]
    close(kept["estimate"], ref.params)
    close(kept["std_error"], ref.bse)
    close(kept["t"], ref.tvalues)
    close(kept["sig"], ref.pvalues)
    # scipy's t quantile is off in its ninth digit for some df: the
    # intervals are statsmodels' estimates and errors with mpmath's quantile.
    q = t_quantile(0.975, ref.df_resid)
    close(kept["ci_lower"], ref.params - q * ref.bse)
    close(kept["ci_upper"], ref.params + q * ref.bse)
    close(fit.fit["r_square"], ref.rsquared)
    close(fit.fit["error_df"], ref.df_resid)
    close(fit.fit["residual_standard_error"], np.sqrt(ref.scale))


def test_ols_covariates_and_product():
    df = numeric_frame()
    fit = mcreg.glm("y ~ x1 + x2 + x1*x2", df)
    ref = smf.ols("y ~ x1 + x2 + x1:x2", df).fit()
    check_ols(fit, ref)
    close(fit.cov.to_numpy(), ref.cov_params().to_numpy())
    close(fit.predict(), ref.fittedvalues)


def test_wls_regression_weights():
    df = numeric_frame(seed=2)
    fit = mcreg.glm("y ~ x1 + x2", df, regr_weight="w")
    ref = smf.wls("y ~ x1 + x2", df, weights=df["w"]).fit()
    check_ols(fit, ref)


def test_ols_two_factors_with_interaction():
    # The last category of each factor is redundant, as the reference of
    # treatment coding is: the kept estimates are statsmodels' in order.
    df = pd.read_csv(EXAMPLES / "warpbreaks.csv")
    fit = mcreg.glm("breaks ~ wool + tension + wool*tension", df)
    ref = smf.ols("breaks ~ C(wool, Treatment('B')) * C(tension, Treatment('M'))", df).fit()
    check_ols(fit, ref)
    assert list(fit.params.index[fit.params["redundant"]]) == [
        "[wool=B]", "[tension=M]", "[wool=A] * [tension=M]", "[wool=B] * [tension=H]",
        "[wool=B] * [tension=L]", "[wool=B] * [tension=M]"]


@pytest.mark.parametrize("vcov", ["hc0", "hc1", "hc2", "hc3"])
def test_robust_covariance(vcov):
    df = numeric_frame(seed=3)
    fit = mcreg.glm("y ~ x1 + x2", df, vcov=vcov)
    ref = smf.ols("y ~ x1 + x2", df).fit(cov_type=vcov.upper())
    close(fit.params["std_error"], ref.bse)


def test_cluster_robust_covariance():
    df = numeric_frame(seed=4)
    df["firm"] = np.repeat(np.arange(40), 10).astype(str)
    fit = mcreg.glm("y ~ x1 + x2", df, cluster="firm")
    groups = pd.factorize(df["firm"])[0]
    ref = smf.ols("y ~ x1 + x2", df).fit(cov_type="cluster", cov_kwds={"groups": groups})
    # statsmodels' default small-sample factor is sandwich's type "HC1"
    # with G/(G-1) (n-1)/(n-k).
    close(fit.params["std_error"], ref.bse)


def multinomial_frame(n=3000, seed=5):
    rng = np.random.default_rng(seed)
    x1 = rng.normal(0, 1, n)
    x2 = rng.normal(2, 1, n)
    eta = np.column_stack([np.zeros(n), 0.5 + 1.0 * x1 - 0.5 * x2, -0.3 - 0.8 * x1 + 0.4 * x2])
    p = np.exp(eta) / np.exp(eta).sum(axis=1, keepdims=True)
    u = rng.uniform(size=n)[:, None]
    y = (u > np.cumsum(p, axis=1)).sum(axis=1)
    return pd.DataFrame({"y": np.array(["a", "b", "c"])[y], "x1": x1, "x2": x2})


def test_multinomial_logit():
    df = multinomial_frame()
    fit = mcreg.logistic("y ~ x1 + x2", df, reference="first")
    codes = pd.Categorical(df["y"], categories=["a", "b", "c"]).codes
    ref = sm.MNLogit(codes, sm.add_constant(df[["x1", "x2"]])).fit(
        method="newton", tol=1e-14, maxiter=100, disp=False)
    p = fit.params
    assert list(p["target"].unique()) == ["b", "c"]
    close(p["estimate"], ref.params.to_numpy().T.ravel())
    close(p["std_error"], ref.bse.to_numpy().T.ravel())
    close(p["wald"], (ref.tvalues.to_numpy().T.ravel()) ** 2)
    close(fit.fit["loglik_final"], ref.llf)
    close(fit.fit["loglik_initial"], ref.llnull)
    close(fit.fit["mcfadden"], ref.prsquared)
    close(fit.cov.to_numpy(), ref.cov_params().to_numpy())
    probs = fit.predict()
    close(probs[["p_a", "p_b", "p_c"]].to_numpy(), ref.predict())
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert fit.fit["converged"]


def test_type_one_tests_and_cell_means():
    df = pd.read_csv(EXAMPLES / "warpbreaks.csv")
    fit = mcreg.glm("breaks ~ wool + tension + wool*tension", df)
    ref = smf.ols("breaks ~ wool * tension", df).fit()
    anova = sm.stats.anova_lm(ref, typ=1)
    t1 = fit.tests(types=(1,))[1]
    close(t1.loc[["wool", "tension", "wool*tension"], "ss"], anova["sum_sq"][:3])
    close(t1.loc[["wool", "tension", "wool*tension"], "F"], anova["F"][:3])
    close(t1.loc[["wool", "tension", "wool*tension"], "sig"], anova["PR(>F)"][:3])
    # A saturated model's marginal means are the cells' means, with the
    # residual standard error over the root of the cell's size.
    means = fit.emmeans("wool*tension")["means"].set_index(["wool", "tension"])
    cells = df.groupby(["wool", "tension"])["breaks"]
    close(means["mean"], cells.mean().loc[means.index])
    close(means["se"], np.sqrt(ref.scale / cells.size().loc[means.index]))


def test_html_repr_shows_the_table():
    fit = mcreg.glm("breaks ~ wool", pd.read_csv(EXAMPLES / "warpbreaks.csv"))
    page = fit._repr_html_()
    assert "<table" in page and "[wool=A]" in page and "r_square" in page
