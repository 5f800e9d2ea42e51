"""mcreg: general linear models and multinomial logistic regression.

    >>> import mcreg
    >>> fit = mcreg.glm("breaks ~ wool + tension + wool*tension", df)
    >>> fit.params, fit.tests(types=(1, 3)), fit.emmeans("wool*tension", compare="tension")

The formula language is the mcreg program's: ``A*B`` is the interaction
of A and B alone, ``B(A)`` B nested in A, ``x*x`` the square of a
covariate. The data are a pandas DataFrame, a dict of numpy arrays, or the
path of a CSV file (plain or gzip), which is read by the program's reader
and streamed through a temporary file when it is larger than memory.

A data frame's float64 and int64 columns are not copied: every pass of the
fit reads them where they lie; a column of another numeric dtype (int32,
float32, nullable) is converted to float64 once, and a text or categorical column
goes over as int32 codes. The result keeps the arrays alive. It takes from
the records, while fitting, all that its tests and marginal means need, so
a frame changed afterwards leaves them as they were; only ``predict()`` of
the fitted records reads the frame again, and it refuses (mcreg.Error)
when the frame has changed since the fit: fit again, or give the frame to
``predict(new_data)``.
"""

import os
import warnings as _warnings

from . import _core
from ._errors import Error, McregWarning
from ._frame import columns as _columns
from ._results import GlmResult, LogisticResult

__all__ = ["glm", "logistic", "Error", "McregWarning", "GlmResult", "LogisticResult"]


def _names(value):
    if value is None:
        return []
    if isinstance(value, str):
        return [value]
    return [str(v) for v in value]


def _session(formula, data, logistic, factors, freq_weight, regr_weight, intercept, tolerance,
             confidence, na_values, vcov, cluster, reference, max_iterations, memory_limit,
             threads):
    options = dict(formula=formula, logistic=logistic, factors=_names(factors),
                   freq_weight=freq_weight or "", regr_weight=regr_weight or "",
                   intercept=bool(intercept), tolerance=float(tolerance),
                   confidence=float(confidence), vcov=vcov, cluster=_names(cluster),
                   reference=str(reference), max_iterations=int(max_iterations),
                   memory_limit=memory_limit, threads=threads)
    if isinstance(data, (str, os.PathLike)):
        options["na_values"] = ["NA"] if na_values is None else _names(na_values)
        source = os.fspath(data)
    else:
        options["na_values"] = []
        source = _columns(data, na_values)
    session = _core.Session(source, options)
    for w in session.warnings():
        _warnings.warn(w, McregWarning, stacklevel=3)
    return session


def glm(formula, data, *, factors=None, freq_weight=None, regr_weight=None, intercept=True,
        tolerance=1e-12, confidence=0.95, na_values=None, vcov="model", cluster=None,
        memory_limit=None, threads=None):
    """Fits a general linear model by weighted least squares.

    vcov is "model" or "hc0" to "hc3" (heteroskedasticity-consistent);
    cluster names one column (or a list of two) for a cluster-robust
    covariance. memory_limit (bytes) bounds what a file's records take in
    memory before they go to a temporary file. threads is how many threads
    the fit of more than 65536 records runs on (the cores available unless
    given); the results are the same for any number.
    """
    session = _session(formula, data, False, factors, freq_weight, regr_weight, intercept,
                       tolerance, confidence, na_values, vcov, cluster, "last", 100,
                       memory_limit, threads)
    return GlmResult(session, confidence)


def logistic(formula, data, *, reference="last", factors=None, freq_weight=None, intercept=True,
             confidence=0.95, na_values=None, vcov="model", cluster=None, max_iterations=None,
             memory_limit=None, threads=None):
    """Fits a multinomial logistic regression of a categorical dependent.

    reference is "first", "last" or a category's text; vcov is "model",
    "hc0" or "hc1"; max_iterations bounds the Fisher scoring (100 unless given);
    threads as for glm.
    """
    session = _session(formula, data, True, factors, freq_weight, None, intercept, 0.0,
                       confidence, na_values, vcov, cluster, reference,
                       100 if max_iterations is None else max_iterations, memory_limit,
                       threads)
    return LogisticResult(session, confidence)
