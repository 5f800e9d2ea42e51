# What the package makes of a data frame: factor order, missing values,
# dicts of arrays, columns read in place.
import numpy as np
import pandas as pd
import pytest

import mcreg
from mcreg import _frame

from conftest import EXAMPLES


def warpbreaks():
    return pd.read_csv(EXAMPLES / "warpbreaks.csv")


def test_categorical_keeps_its_declared_order():
    df = warpbreaks()
    df["tension"] = pd.Categorical(df["tension"], categories=["L", "M", "H"])
    fit = mcreg.glm("breaks ~ tension", df)
    # The last declared category is the redundant reference.
    p = fit.params
    assert list(p.index) == ["Intercept", "[tension=L]", "[tension=M]", "[tension=H]"]
    assert list(p["redundant"]) == [False, False, False, True]
    means = df.groupby("tension", observed=True)["breaks"].mean()
    assert p.loc["Intercept", "estimate"] == pytest.approx(means["H"], rel=1e-12)
    assert p.loc["[tension=L]", "estimate"] == pytest.approx(means["L"] - means["H"], rel=1e-12)
    # An object column's categories are sorted, as the program sorts a CSV's.
    plain = mcreg.glm("breaks ~ tension", warpbreaks()).params
    assert list(plain.index) == ["Intercept", "[tension=H]", "[tension=L]", "[tension=M]"]
    em = fit.emmeans("tension")["means"]
    assert list(em["tension"]) == ["L", "M", "H"]


@pytest.mark.parametrize("marker", [np.nan, None, pd.NA])
def test_missing_cells_leave_their_records_out(marker):
    df = warpbreaks()
    df["x"] = np.arange(len(df), dtype=float) % 7
    holes = df.copy()
    holes["wool"] = holes["wool"].astype(object)
    holes.loc[[1, 5], "wool"] = marker
    holes["x"] = holes["x"].astype("Float64" if marker is pd.NA else float)
    holes.loc[[2, 9], "x"] = marker
    holes.loc[11, "breaks"] = np.nan
    kept = df.drop(index=[1, 2, 5, 9, 11]).reset_index(drop=True)
    formula = "breaks ~ wool + x"
    with_holes = mcreg.glm(formula, holes)
    listwise = mcreg.glm(formula, kept)
    pd.testing.assert_frame_equal(with_holes.params, listwise.params, rtol=1e-13)
    assert with_holes.fit["records_read"] == len(df)
    assert with_holes.fit["records_used"] == len(kept)
    predicted = with_holes.predict()
    assert predicted.isna().sum() == 5
    assert np.isnan(predicted[[1, 2, 5, 9, 11]]).all()


def test_numeric_na_values_and_text_markers():
    df = warpbreaks()
    marked = df.copy()
    marked.loc[3, "breaks"] = -999
    marked.loc[4, "wool"] = "missing"
    fit = mcreg.glm("breaks ~ wool", marked, na_values=[-999, "missing"])
    ref = mcreg.glm("breaks ~ wool", df.drop(index=[3, 4]))
    pd.testing.assert_frame_equal(fit.params, ref.params, rtol=1e-13)


def test_dict_of_arrays_equals_the_frame():
    df = warpbreaks()
    data = {name: df[name].to_numpy() for name in df.columns}
    formula = "breaks ~ wool + tension"
    assert mcreg.glm(formula, data).to_json() == mcreg.glm(formula, df).to_json()


def test_float_columns_are_read_in_place():
    df = pd.DataFrame({"y": np.arange(10.0), "x": np.arange(10.0) ** 2, "k": np.arange(10)})
    cols = {c[0]: c for c in _frame.columns(df)}
    assert np.shares_memory(cols["y"][1], df["y"].to_numpy())
    assert np.shares_memory(cols["x"][1], df["x"].to_numpy())
    assert np.shares_memory(cols["k"][1], df["k"].to_numpy()) and cols["k"][2] is None
    strided = np.arange(20.0).reshape(10, 2)
    data = {"y": strided[:, 0], "x": strided[:, 1]}
    assert np.shares_memory(_frame.columns(data)[0][1], strided)
    fit = mcreg.glm("y ~ x", data)
    # y = x - 1 exactly.
    assert fit.params.loc["x", "estimate"] == pytest.approx(1.0, abs=1e-12)
    assert fit.params.loc["Intercept", "estimate"] == pytest.approx(-1.0, abs=1e-12)


def test_other_numeric_dtypes_fit_as_float64():
    df = warpbreaks()
    df["x"] = (np.arange(len(df)) % 7).astype(np.int32)
    df["z"] = (np.arange(len(df)) % 5 * 0.375).astype(np.float32)
    df["n"] = pd.array(np.arange(len(df)) % 3, dtype="Int64")
    # Beyond 2**53 an integer is read as the double nearest it.
    df["big"] = (np.arange(len(df), dtype=np.int64) % 4) * 3 + 2**60 + 1
    wide = df.astype({"x": np.float64, "z": np.float64, "n": np.float64, "big": np.float64})
    assert wide["big"].iloc[0] == 2.0**60
    formula = "breaks ~ wool + x + z + n + big"
    assert mcreg.glm(formula, df).to_json(tests=3) == mcreg.glm(formula, wide).to_json(tests=3)


def test_fit_outlives_changes_to_its_frame():
    df = warpbreaks()
    df["breaks"] = df["breaks"].astype(float)
    df["x"] = np.arange(len(df), dtype=float) % 5
    fit = mcreg.glm("breaks ~ wool + tension + wool*tension + x", df, factors="x")
    doc = fit.to_json(tests=3, emmeans="wool*tension")
    means = fit.emmeans("x")["means"]
    predicted = fit.predict()
    original = df.copy()
    # The fit reads these arrays where they lie; change them in place.
    breaks = df["breaks"].to_numpy()
    x = df["x"].to_numpy()
    assert np.shares_memory(breaks, {c[0]: c[1] for c in _frame.columns(df)}["breaks"])
    breaks[:] = breaks[::-1].copy()
    x[:] = 9.0
    assert fit.to_json(tests=3, emmeans="wool*tension") == doc
    pd.testing.assert_frame_equal(fit.emmeans("x")["means"], means)
    # The predictions of the fitted records would be of other data now.
    with pytest.raises(mcreg.Error, match="changed since the model was fitted"):
        fit.predict()
    np.testing.assert_allclose(fit.predict(original), predicted, rtol=1e-13)
    # The fit keeps the arrays alive without the frame.
    del df, breaks, x
    import gc
    gc.collect()
    assert fit.to_json(tests=3, emmeans="wool*tension") == doc


def test_numeric_factor_and_boolean_column():
    df = pd.read_csv(EXAMPLES / "mtcars.csv")
    df["manual"] = df["am"] == 1
    a = mcreg.glm("mpg ~ am", df, factors="am").params
    b = mcreg.glm("mpg ~ manual", df).params
    assert list(a.index) == ["Intercept", "[am=0]", "[am=1]"]
    assert list(b.index) == ["Intercept", "[manual=False]", "[manual=True]"]
    np.testing.assert_allclose(a["estimate"], b["estimate"], rtol=1e-13)


def test_predict_new_data_scores_by_the_model():
    df = warpbreaks()
    df["x"] = np.arange(len(df), dtype=float) % 5
    fit = mcreg.glm("breaks ~ wool + tension + x", df)
    # The model's own records scored as new data give its fitted values,
    # which are the cell means plus the slope for this design.
    again = fit.predict(df.drop(columns="breaks"))
    np.testing.assert_allclose(again, fit.predict(), rtol=1e-12)
    new = pd.DataFrame({"wool": ["A", "C", "B"], "tension": ["L", "L", None], "x": [1.0, 2.0, 3.0]})
    with pytest.warns(mcreg.McregWarning, match="'C'"):
        p = fit.predict(new)
    p0 = fit.params["estimate"]
    expected = p0["Intercept"] + p0["[wool=A]"] + p0["[tension=L]"] + p0["x"]
    assert p[0] == pytest.approx(expected, rel=1e-12)
    assert np.isnan(p[1]) and np.isnan(p[2])


def test_logistic_predict_new_data():
    df = warpbreaks()
    fit = mcreg.logistic("tension ~ wool + breaks", df)
    own = fit.predict()
    new = fit.predict(df[["wool", "breaks"]])
    cols = [c for c in own.columns if c.startswith("p_")]
    assert cols == ["p_H", "p_L", "p_M"]
    np.testing.assert_allclose(new[cols], own[cols], rtol=1e-10)
    np.testing.assert_allclose(new[cols].sum(axis=1), 1.0, rtol=1e-13)
    # The predicted category is the model's text: "07" and "7" stay apart,
    # and "n/a" is a category, not a missing value.
    df["tension"] = df["tension"].map({"H": "07", "L": "7", "M": "n/a"})
    fit = mcreg.logistic("tension ~ wool + breaks", df)
    assert fit.categories == ["07", "7", "n/a"]
    for p in (fit.predict(), fit.predict(df[["wool", "breaks"]])):
        probs = p[["p_07", "p_7", "p_n/a"]].to_numpy()
        assert list(p["predicted"]) == [fit.categories[k] for k in probs.argmax(axis=1)]


def test_streamed_records_fit_as_those_in_memory():
    df = pd.read_csv(EXAMPLES / "mtcars.csv")
    formula = "mpg ~ am + cyl + am*cyl + wt"
    for data in (df, str(EXAMPLES / "mtcars.csv")):
        # A frame's records are its columns: the limit leaves it as it is.
        in_memory = mcreg.glm(formula, data, factors=["am", "cyl"])
        streamed = mcreg.glm(formula, data, factors=["am", "cyl"], memory_limit=0)
        assert streamed.to_json(tests=3, emmeans="am*cyl") == in_memory.to_json(
            tests=3, emmeans="am*cyl")


def test_binary_logistic_means_on_the_probability_scale():
    df = pd.read_csv(EXAMPLES / "mtcars.csv")
    fit = mcreg.logistic("am ~ cyl", df, factors=["am", "cyl"])
    prob = fit.emmeans("cyl", compare="cyl")["probabilities"]
    # A saturated model's probabilities are the cells' proportions, their
    # standard errors the binomial sqrt(p(1-p)/n).
    cells = df.groupby("cyl")["am"]
    p = cells.apply(lambda s: (s == 0).mean())
    n = cells.size()
    se = np.sqrt(p * (1 - p) / n)
    means = prob["means"].set_index("cyl")
    assert list(means.index) == ["4", "6", "8"] and set(means["category"]) == {"0"}
    np.testing.assert_allclose(means["mean"], p.to_numpy(), rtol=1e-9)
    np.testing.assert_allclose(means["se"], se.to_numpy(), rtol=1e-6)
    pair = prob["pairwise"].set_index(["a", "b"]).loc[("4", "8")]
    assert pair["estimate"] == pytest.approx(p[4] - p[8], rel=1e-9)
    assert pair["se"] == pytest.approx(np.hypot(se[4], se[8]), rel=1e-6)
    # More than two categories have no single probability to show.
    three = mcreg.logistic("cyl ~ am", df, factors=["cyl", "am"])
    assert three.emmeans("am")["probabilities"] is None


def test_codes_of_every_width_fit_as_the_file(tmp_path):
    n = 1200
    i = np.arange(n)
    df = pd.DataFrame({"y": np.sin(i) * 10 + i % 7,
                       "g": [f"g{k:03d}" for k in (i * 37) % 300],
                       "c": pd.Categorical(np.array(["a", "b", "c"])[i % 3])})
    df.loc[5, "g"] = None
    cols = {c[0]: c for c in _frame.columns(df)}
    assert cols["g"][1].dtype == np.int16 and cols["c"][1].dtype == np.int8
    # A categorical's codes go over where they lie.
    assert np.shares_memory(cols["c"][1], df["c"].cat.codes.to_numpy())
    path = tmp_path / "codes.csv"
    df.to_csv(path, index=False)
    formula = "y ~ g + c"
    assert mcreg.glm(formula, df).to_json(tests=3) == mcreg.glm(formula, str(path)).to_json(
        tests=3)


def test_threads_give_the_same_fit_of_a_large_frame():
    # More than 65536 records are fitted in parts on threads: the same
    # document for any number of threads, from a frame as from its CSV.
    n = 140000
    i = np.arange(n)
    u = np.modf(i * 0.6180339887498949)[0]
    df = pd.DataFrame({"A": np.array(["a", "b", "c", "d"])[(i * 7) % 4],
                       "x": np.sin(0.01 * i) + u})
    df["y"] = 1.0 + 0.5 * ((i * 7) % 4) + 2.0 * df["x"] + u
    df["g"] = np.where(u < 0.3, "lo", np.where(u < 0.7, "mid", "hi"))
    for model, formula in ((mcreg.glm, "y ~ A + x + A*x"), (mcreg.logistic, "g ~ A + x")):
        docs = [model(formula, df, threads=t).to_json(tests=[3], emmeans="A") for t in (1, 2, 3)]
        assert docs[1] == docs[0] and docs[2] == docs[0]
    with pytest.raises(mcreg.Error):
        mcreg.glm("y ~ A", df, threads=0)
