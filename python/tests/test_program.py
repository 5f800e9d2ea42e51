# The package's reports are the program's: the same JSON and text, byte for
# byte, for the same data and options, from a data frame and from the file.
import gzip
import shutil

import pandas as pd
import pytest

import mcreg

from conftest import EXAMPLES, run_program

CASES = [
    # (csv, command, formula, package options, analyses)
    ("warpbreaks.csv", "glm", "breaks ~ wool + tension + wool*tension", {},
     dict(tests=(1, 3), emmeans="wool*tension", compare="tension", adjust="bonferroni")),
    ("mtcars.csv", "glm", "mpg ~ am + cyl + am*cyl", {"factors": ["am", "cyl"]},
     dict(tests=3, emmeans="am*cyl", compare="cyl", adjust="bonferroni",
          contrast="polynomial", metric=[4, 6, 8])),
    ("mtcars.csv", "glm", "mpg ~ wt + hp + wt*hp", {"vcov": "hc3"}, dict(tests=3)),
    ("plantgrowth.csv", "glm", "weight ~ group", {},
     dict(tests=(1, 3), emmeans="group", contrast="simple", contrast_reference="ctrl")),
    ("mtcars.csv", "logistic", "cyl ~ wt + am", {"factors": ["am"]},
     dict(tests=3, emmeans="am")),
    ("warpbreaks.csv", "logistic", "tension ~ wool + breaks", {"reference": "first"},
     dict(tests=(1, 3), emmeans="wool")),
]


def program_args(command, csv, formula, options, analyses, json=True):
    args = [command, "--data", str(csv), "--formula", formula]
    for name, value in options.items():
        flag = "--" + name.replace("_", "-")
        args += [flag, *value] if isinstance(value, list) else [flag, str(value)]
    if "tests" in analyses:
        t = analyses["tests"]
        args += ["--tests", ",".join(map(str, t)) if isinstance(t, tuple) else str(t)]
    if "emmeans" in analyses:
        args += ["--emmeans", analyses["emmeans"]]
    for name in ("compare", "adjust", "contrast", "contrast_reference"):
        if name in analyses:
            args += ["--" + name.replace("_", "-"), analyses[name]]
    if "metric" in analyses:
        args += ["--metric", ",".join(map(str, analyses["metric"]))]
    return args + (["--json"] if json else [])


def fit(command, data, formula, options):
    return getattr(mcreg, command)(formula, data, **options)


@pytest.mark.parametrize("csv,command,formula,options,analyses", CASES)
def test_json_and_text_equal_the_program(program, csv, command, formula, options, analyses):
    path = EXAMPLES / csv
    out, err, rc = run_program(program, *program_args(command, path, formula, options, analyses))
    assert rc == 0, err
    text, _, rc = run_program(program,
                              *program_args(command, path, formula, options, analyses, False))
    assert rc == 0
    frame = pd.read_csv(path, float_precision="round_trip")
    for data in (frame, str(path)):
        result = fit(command, data, formula, options)
        assert result.to_json(**analyses) == out
        assert result.summary(**analyses) == text


def test_gzip_file_is_read_as_the_plain_file(program, tmp_path):
    plain = EXAMPLES / "warpbreaks.csv"
    packed = tmp_path / "warpbreaks.csv.gz"
    with open(plain, "rb") as src, gzip.open(packed, "wb") as dst:
        shutil.copyfileobj(src, dst)
    formula = "breaks ~ wool + tension + wool*tension"
    out, err, rc = run_program(program, "glm", "--data", str(plain), "--formula", formula,
                               "--json")
    assert rc == 0, err
    from_gzip = mcreg.glm(formula, str(packed)).to_json()
    # The source's name is not part of the document: the same bytes.
    assert from_gzip == out


def test_quickstart_example_runs(tmp_path):
    import subprocess
    import sys
    pmml = tmp_path / "mtcars.pmml"
    p = subprocess.run([sys.executable, str(EXAMPLES / "python_quickstart.py"), str(pmml)],
                       capture_output=True, text=True)
    assert p.returncode == 0, p.stderr
    # The means of the README's table, and a document that names the model.
    assert "28.075" in p.stdout and "19.125" in p.stdout
    assert "GeneralRegressionModel" in pmml.read_text()


@pytest.mark.parametrize("command,formula,options", [
    ("glm", "mpg ~ am + cyl + am*cyl + wt", {"factors": ["am", "cyl"]}),
    ("logistic", "cyl ~ wt + am", {"factors": ["am"]}),
])
def test_documents_equal_the_programs(program, tmp_path, command, formula, options):
    path = EXAMPLES / "mtcars.csv"
    pmml, xml = tmp_path / "p.pmml", tmp_path / "r.xml"
    args = program_args(command, path, formula, options, {}, json=False)
    _, err, rc = run_program(program, *args, "--pmml", str(pmml), "--results-xml", str(xml))
    assert rc == 0, err
    result = fit(command, pd.read_csv(path, float_precision="round_trip"), formula, options)
    result.to_pmml(tmp_path / "q.pmml")
    result.to_results_xml(tmp_path / "s.xml")
    assert (tmp_path / "q.pmml").read_bytes() == pmml.read_bytes()
    assert (tmp_path / "s.xml").read_bytes() == xml.read_bytes()
    # Scores of new data are the program's predict to the last digit.
    scores = tmp_path / "scores.csv"
    _, err, rc = run_program(program, "predict", "--model", str(pmml), "--data", str(path),
                             "--output", str(scores))
    assert rc == 0, err
    want = pd.read_csv(scores, float_precision="round_trip")
    got = result.predict(path)
    if command == "glm":
        assert got.tolist() == want["predicted"].tolist()
    else:
        columns = [c for c in want.columns if c.startswith("P(")]
        assert got[[f"p_{c[2:-1]}" for c in columns]].to_numpy().tolist() == \
            want[columns].to_numpy().tolist()
