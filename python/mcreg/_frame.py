"""Data frames, dicts of arrays and their columns as the compiled module takes them.

A column goes over either as numbers (NaN missing), read in place when
they are float64 or int64 and converted to float64 once otherwise
(float32, other integers, nullable dtypes), or as int8, int16 or int32
codes with their labels (negative missing), a categorical's own codes in
place. Numeric columns stay numbers, so that a factor named in
``factors`` is coded by value as the program codes a numeric column of a
CSV file; everything else is text.
"""

import numpy as np
import pandas as pd


def _is_number(text):
    try:
        float(text)
    except (TypeError, ValueError):
        return False
    return True


_IN_PLACE = (np.dtype(np.float64), np.dtype(np.int64))


def _numbers(values, name, na_numbers):
    if isinstance(values, pd.Series):
        if values.dtype in _IN_PLACE:
            arr = values.to_numpy()
        else:
            arr = values.to_numpy(dtype=np.float64, na_value=np.nan)
    else:
        arr = np.asarray(values)
        if arr.dtype not in _IN_PLACE:
            arr = arr.astype(np.float64)
    if na_numbers:
        hit = np.isin(arr, na_numbers)
        if hit.any():
            arr = np.where(hit, np.nan, arr)
    return (name, arr, None, False)


_CODE_TYPES = (np.int8, np.int16, np.int32)


def _narrow(codes, n_labels):
    """Codes in the smallest type that holds them (a categorical's own
    codes are kept where they lie when they already are one)."""
    for t in _CODE_TYPES:
        if n_labels <= np.iinfo(t).max:
            if codes.dtype == t:
                return np.ascontiguousarray(codes)
            return codes.astype(t)
    raise ValueError("more than 2**31 - 1 categories")


def _codes(values, name, na_texts):
    if isinstance(values, pd.Series) and isinstance(values.dtype, pd.CategoricalDtype):
        labels = [str(c) for c in values.cat.categories]
        codes = values.cat.codes.to_numpy()
        declared = True
    else:
        codes, uniques = pd.factorize(pd.Series(values, copy=False), sort=False)
        labels = [str(u) for u in uniques]
        declared = False
    codes = _narrow(codes, len(labels))
    if na_texts:
        gone = [i for i, label in enumerate(labels) if label in na_texts]
        if gone:
            codes = np.where(np.isin(codes, gone), codes.dtype.type(-1), codes)
    return (name, codes, labels, declared)


def _is_numeric(values):
    dtype = values.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        return False
    if pd.api.types.is_bool_dtype(dtype):
        return False
    return pd.api.types.is_numeric_dtype(dtype)


def columns(data, na_values=None):
    """The columns of a DataFrame or a dict of arrays, for _core.Session."""
    na_values = [] if na_values is None else [str(v) for v in na_values]
    na_numbers = [float(v) for v in na_values if _is_number(v)]
    na_texts = set(na_values)
    if isinstance(data, pd.DataFrame):
        items = [(str(name), data[name]) for name in data.columns]
    elif isinstance(data, dict):
        items = [(str(name), v if isinstance(v, pd.Series) else np.asarray(v))
                 for name, v in data.items()]
    else:
        raise TypeError("data must be a pandas DataFrame, a dict of arrays or a file path")
    out = []
    for name, values in items:
        if getattr(values, "ndim", 1) != 1:
            raise TypeError(f"column '{name}' is not one-dimensional")
        if _is_numeric(values):
            out.append(_numbers(values, name, na_numbers))
        else:
            out.append(_codes(values, name, na_texts))
    return out
