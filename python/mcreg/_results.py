"""The fitted models: tables as data frames, reports as the program writes them."""

import html
import io
import json
import os
import warnings

import numpy as np
import pandas as pd

from ._errors import McregWarning
from ._frame import columns as _columns

_NUMERIC_PARAMS = ["estimate", "std_error", "t", "wald", "df", "sig", "exp_b", "ci_lower",
                   "ci_upper"]


def _frame(rows, numeric=()):
    df = pd.DataFrame(rows)
    for c in numeric:
        if c in df.columns:
            df[c] = df[c].astype(float)
    return df


def _levels(rows, key):
    """Rows whose `key` is a {factor: level} dict, the levels as columns first."""
    out = []
    for r in rows:
        r = dict(r)
        levels = r.pop(key, None) or {}
        out.append({**levels, **r})
    return out


def _analysis(obj):
    """One logit's (or the model's) means, pairs and contrast as data frames."""
    numeric = ["mean", "se", "df", "lower", "upper", "estimate", "t", "chi_square", "p",
               "p_adjusted"]
    result = {"means": _frame(_levels(obj.get("means") or [], "levels"), numeric),
              "pairwise": _frame(_levels(obj.get("pairwise") or [], "levels_fixed"), numeric),
              "contrast": None}
    contrast = obj.get("contrast")
    if contrast:
        rows = []
        for test in contrast.get("tests") or []:
            fixed = test.get("levels_fixed") or {}
            for row in test.get("rows") or []:
                rows.append({**fixed, **{k: v for k, v in row.items() if k != "coefficients"}})
        result["contrast"] = _frame(rows, numeric)
    return result


class _Result:
    """What both models share."""

    _stat = "t"

    def __init__(self, session, confidence):
        self._session = session
        self._confidence = confidence
        text, doc = session.report("", _emmeans_options(None), False)
        self._text = text
        self._doc = json.loads(doc)

    @property
    def warnings(self):
        """The warnings of the reading and the fit, as the program says them."""
        return list(self._doc.get("warnings") or [])

    @property
    def params(self):
        """The parameter table, indexed by label."""
        df = _frame(self._doc["parameters"], _NUMERIC_PARAMS)
        df = df.drop(columns=[c for c in ("name",) if c in df.columns])
        df["redundant"] = df["redundant"].astype(bool)
        return df.set_index("label")

    @property
    def fit(self):
        """The fit's figures, with the records read and used."""
        out = dict(self._doc["fit"])
        out["records_read"] = self._doc["records"]["read"]
        out["records_used"] = self._doc["records"]["used"]
        return {k: (np.nan if v is None else v) for k, v in out.items()}

    def tests(self, types=(3,)):
        """The effect tests, one DataFrame per type asked for (1 and/or 3), by type."""
        if isinstance(types, int):
            types = (types,)
        text, left = self._session.tests(",".join(str(t) for t in types))
        for w in left:
            warnings.warn(w, McregWarning, stacklevel=2)
        doc = json.loads(text)
        numeric = ["df", "ss", "mean_square", "F", "chi_square", "sig"]
        return {t: _frame(doc[f"type{t}"] or [], numeric).set_index("term")
                for t in (1, 3) if doc.get(f"type{t}") is not None}

    def emmeans(self, term, compare=None, adjust="none", contrast=None, contrast_reference=None,
                metric=None):
        """Estimated marginal means of a factor term with pairwise comparisons and contrasts.

        Returns {"means", "pairwise", "contrast"} as data frames (contrast None
        unless asked); for a logistic model each has a "category" column for its
        logit, and a response of two categories adds "probabilities": the same
        three frames on the probability scale (None for more categories).
        """
        options = _emmeans_options([term], compare, adjust, contrast, contrast_reference,
                                   metric)
        text, left = self._session.emmeans(options)
        for w in left:
            warnings.warn(w, McregWarning, stacklevel=2)
        docs = json.loads(text)
        if not docs:
            return {"means": pd.DataFrame(), "pairwise": pd.DataFrame(), "contrast": None}
        return self._emmeans_frames(docs[0])

    def _emmeans_frames(self, doc):
        return _analysis(doc)

    def to_json(self, tests=None, emmeans=None, compare=None, adjust="none", contrast=None,
                contrast_reference=None, metric=None, covariance=False):
        """The program's JSON document for the same data and options (--json)."""
        return self._report(tests, emmeans, compare, adjust, contrast, contrast_reference, metric,
                            covariance)[1]

    def summary(self, tests=None, emmeans=None, compare=None, adjust="none", contrast=None,
                contrast_reference=None, metric=None):
        """The program's text report for the same data and options."""
        return self._report(tests, emmeans, compare, adjust, contrast, contrast_reference, metric,
                            False)[0]

    def _report(self, tests, emmeans, compare, adjust, contrast, contrast_reference, metric,
                covariance):
        if tests is None:
            types = ""
        elif isinstance(tests, int):
            types = str(tests)
        else:
            types = ",".join(str(t) for t in tests)
        terms = [emmeans] if isinstance(emmeans, str) else list(emmeans or [])
        options = _emmeans_options(terms, compare, adjust, contrast, contrast_reference, metric)
        return self._session.report(types, options, covariance)

    def to_pmml(self, path, covariance="auto"):
        """Writes the model as a PMML 4.4 document; returns what it left out."""
        return self._session.write_pmml(str(path), covariance)

    def to_results_xml(self, path):
        """Writes the parameter estimates as an XML results document."""
        self._session.write_results_xml(str(path))

    # The scores' columns that hold a category's text (which pandas would
    # otherwise read as a number, "07" as 7, or as missing, "n/a").
    _TEXT_SCORES = {}

    def _read_scores(self, text):
        # pandas' own parser misses the last digits of some of the 17 the
        # scores are written with: round_trip reads back the program's doubles.
        return pd.read_csv(io.StringIO(text), keep_default_na=False, na_values=[""],
                           skip_blank_lines=False, dtype=self._TEXT_SCORES,
                           float_precision="round_trip")

    def _predictions(self, new_data, na_values=None):
        if new_data is None:
            return self._read_scores(self._session.predictions())
        # New data are scored by the model's PMML document, as the
        # program's predict command scores them.
        if isinstance(new_data, (str, os.PathLike)):
            source = os.fspath(new_data)
            markers = ["NA"] if na_values is None else [str(v) for v in na_values]
        else:
            source = _columns(new_data, na_values)
            markers = []
        text, unseen = self._session.score(source, markers)
        for w in unseen:
            warnings.warn(w, McregWarning, stacklevel=3)
        df = self._read_scores(text)
        # The scorer names a probability P(c); the model's own predictions p_c.
        return df.rename(columns=lambda c: f"p_{c[2:-1]}" if c.startswith("P(") else c)

    def __repr__(self):
        return self._text

    def _repr_html_(self):
        fit = "".join(f"<tr><th>{html.escape(str(k))}</th><td>{html.escape(str(v))}</td></tr>"
                      for k, v in self.fit.items())
        return (f"<div><p><b>{html.escape(self._doc['model'])}</b>: "
                f"{html.escape(self._doc['formula'])}</p>{self.params.to_html()}"
                f"<table>{fit}</table></div>")


class GlmResult(_Result):
    """A general linear model fitted by mcreg.glm."""

    @property
    def cov(self):
        """The covariance of the estimates (NaN for a redundant parameter)."""
        labels = self.params.index
        return pd.DataFrame(self._session.covariance(), index=labels, columns=labels)

    def predict(self, new_data=None, na_values=None):
        """The predicted value of every record of the data, or of new_data
        (a DataFrame, dict of arrays or CSV path): NaN for a record the fit
        did not use, one with a missing value or a category the model does
        not know (with a warning)."""
        df = self._predictions(new_data, na_values)
        return df[df.columns[0]].astype(float).rename("predicted")


class LogisticResult(_Result):
    """A multinomial logistic model fitted by mcreg.logistic."""

    _TEXT_SCORES = {"predicted": str}

    @property
    def categories(self):
        return list(self._doc["categories"])

    @property
    def reference(self):
        return self._doc["reference_category"]

    @property
    def cov(self):
        """The covariance of the estimates, by (target, label)."""
        p = self.params
        index = pd.MultiIndex.from_arrays([p["target"], p.index], names=["target", "label"])
        return pd.DataFrame(self._session.covariance(), index=index, columns=index)

    def predict(self, new_data=None, na_values=None):
        """Each record's category probabilities and its predicted category,
        of the data or of new_data, as GlmResult.predict."""
        return self._predictions(new_data, na_values)

    def _emmeans_frames(self, doc):
        parts = {"means": [], "pairwise": [], "contrast": []}
        for logit in doc.get("logits") or []:
            frames = _analysis(logit)
            for k in parts:
                if frames[k] is not None:
                    f = frames[k].copy()
                    f.insert(0, "category", logit["category"])
                    parts[k].append(f)
        out = {k: (pd.concat(v, ignore_index=True) if v else None) for k, v in parts.items()}
        if out["means"] is None:
            out["means"] = pd.DataFrame()
        if out["pairwise"] is None:
            out["pairwise"] = pd.DataFrame()
        # A response of two categories has its means on the probability
        # scale too, as in the program's report.
        out["probabilities"] = None
        probabilities = doc.get("probabilities")
        if probabilities:
            frames = _analysis(probabilities)
            for k, f in frames.items():
                if f is not None:
                    f.insert(0, "category", probabilities["category"])
            out["probabilities"] = frames
        return out


def _emmeans_options(terms, compare=None, adjust="none", contrast=None, contrast_reference=None,
                     metric=None):
    def listed(v):
        if v is None:
            return []
        return [v] if isinstance(v, str) else [str(x) for x in v]

    metrics = []
    if metric is not None:
        metric = list(metric)
        metrics = [list(map(float, m)) for m in metric] if metric and np.ndim(metric[0]) else \
            [list(map(float, metric))]
    return dict(terms=list(terms or []), compare=listed(compare), adjust=adjust or "none",
                contrast=contrast or "", contrast_reference=contrast_reference or "",
                metric=metrics)
