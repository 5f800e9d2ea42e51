# Every failure is an mcreg.Error carrying the program's message and status.
import signal
import threading
import os
import re
import time

import numpy as np
import pandas as pd
import pytest

import mcreg

from conftest import EXAMPLES, run_program

WARP = EXAMPLES / "warpbreaks.csv"

# (formula, package options, program options, exit code)
FAILURES = [
    ("breaks ~ wool + tensoin", {}, [], 2),                      # unknown column, with a caret
    ("breaks ~ wool +", {}, [], 2),                              # formula syntax
    ("wool ~ tension", {}, [], 3),                               # text dependent
    ("breaks ~ wool", {"vcov": "hc9"}, ["--vcov", "hc9"], 2),
    ("breaks ~ wool", {"confidence": 1.5}, ["--confidence", "1.5"], 2),
    ("breaks ~ wool", {"freq_weight": "nope"}, ["--freq-weight", "nope"], 2),
    ("breaks ~ wool", {"factors": ["nope"]}, ["--factors", "nope"], 2),
]


def program_message(program, args):
    _, err, rc = run_program(program, "glm", "--data", str(WARP), *args)
    prefix = "mcreg: "
    assert err.startswith(prefix)
    return err[len(prefix):].rstrip("\n"), rc


@pytest.mark.parametrize("formula,options,args,code", FAILURES)
def test_errors_carry_the_programs_message(program, formula, options, args, code):
    message, rc = program_message(program, ["--formula", formula, *args])
    assert rc == code
    # A data frame's cells are placed by their data row alone.
    in_frame = re.sub(r"^[^,]*, line \d+ \(data row (\d+)\)", r"data frame, data row \1", message)
    for data, expected in ((pd.read_csv(WARP), in_frame), (str(WARP), message)):
        with pytest.raises(mcreg.Error) as e:
            mcreg.glm(formula, data, **options)
        assert str(e.value) == expected
        assert e.value.status == code
        assert isinstance(e.value, ValueError)


def test_bad_cell_names_row_and_column(program, tmp_path):
    bad = tmp_path / "bad.csv"
    bad.write_text("y,x\n1,2\n2,3\n3,oops\n4,5\n")
    _, err, rc = run_program(program, "glm", "--data", str(bad), "--formula", "y ~ x")
    assert rc == 3 and "line 4" in err
    with pytest.raises(mcreg.Error) as e:
        mcreg.glm("y ~ x", str(bad))
    assert "mcreg: " + str(e.value) + "\n" == err


def test_analysis_errors():
    fit = mcreg.glm("breaks ~ wool + tension", pd.read_csv(WARP))
    with pytest.raises(mcreg.Error, match="wool\\*tension"):
        fit.emmeans("wool*tension")
    with pytest.raises(mcreg.Error, match="--adjust"):
        fit.emmeans("wool", adjust="nonsense")
    with pytest.raises(mcreg.Error):
        fit.tests(types=(2,))
    robust = mcreg.glm("breaks ~ wool", pd.read_csv(WARP), vcov="hc1")
    with pytest.raises(mcreg.Error, match="no robust"):
        robust.tests(types=(1,))
    with pytest.raises(mcreg.Error, match="fewer than two|two categories|categor"):
        mcreg.logistic("wool ~ breaks", pd.read_csv(WARP)[lambda d: d.wool == "A"])


def test_no_usable_record():
    df = pd.DataFrame({"y": [np.nan, 1.0], "x": [1.0, np.nan]})
    with pytest.raises(mcreg.Error, match="none of the 2 records"):
        mcreg.glm("y ~ x", df)


def test_warnings_go_through_the_warnings_module():
    df = pd.DataFrame({"y": [1.0, 2.0, 3.0, 4.0], "x": [1.0, 2.0, 3.0, 4.0],
                       "f": [1.0, 2.5, 1.0, 1.0]})
    with pytest.warns(mcreg.McregWarning) as caught:
        fit = mcreg.glm("y ~ x", df, freq_weight="f")
    assert [str(w.message) for w in caught] == fit.warnings
    assert fit.warnings


def long_fit_data(n=1_200_000, levels=1500, seed=7):
    rng = np.random.default_rng(seed)
    return pd.DataFrame({"y": rng.normal(size=n), "g": rng.integers(0, levels, n).astype(float),
                         "x": rng.normal(size=n)})


def test_ctrl_c_cancels_a_long_fit():
    # Some ten seconds of fitting, interrupted after half a second: the
    # KeyboardInterrupt comes from the cancelled fit, not after it.
    df = long_fit_data()
    timer = threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            mcreg.glm("y ~ g + x(g)", df, factors="g")
    finally:
        timer.cancel()
    assert time.monotonic() - start < 4
    # The package still works afterwards.
    assert mcreg.glm("y ~ x", df.head(100)).fit["records_used"] == 100


def test_model_too_large_for_memory(program, tmp_path):
    n = 300_000
    df = pd.DataFrame({"y": np.arange(n) % 7 * 1.0, "g": [f"g{i}" for i in range(n)]})
    path = tmp_path / "wide.csv"
    df.to_csv(path, index=False)
    _, err, rc = run_program(program, "glm", "--data", str(path), "--formula", "y ~ g")
    assert rc == 3
    with pytest.raises(mcreg.Error) as e:
        mcreg.glm("y ~ g", df)
    assert e.value.status == 305
    assert "mcreg: " + str(e.value) + "\n" == err


def test_a_document_that_cannot_be_written_whole_leaves_the_earlier_file(tmp_path):
    # A file size limit stands in for a full disk: the write fails part way.
    import resource
    fit = mcreg.glm("breaks ~ wool + tension", str(WARP))
    path = tmp_path / "model.pmml"
    path.write_text("the earlier model\n")
    limits = resource.getrlimit(resource.RLIMIT_FSIZE)
    previous = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1000, limits[1]))
    try:
        with pytest.raises(mcreg.Error) as e:
            fit.to_pmml(path)
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, limits)
        signal.signal(signal.SIGXFSZ, previous)
    assert e.value.status == 2
    assert path.read_text() == "the earlier model\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["model.pmml"]
