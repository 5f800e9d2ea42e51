#pragma once
#include <pybind11/pybind11.h>

#include <vector>

#include "host/input/FrameReader.h"

namespace mcregpy {

// The columns of a data frame as the package hands them over: a list of
// (name, array, labels, declared) with a 1-d float64 or int64 array of values
// (labels None), or a 1-d contiguous int8, int16 or int32 array of codes into the list
// of labels.
// The arrays are read where they lie; the list must outlive the columns.
// Throws std::invalid_argument for anything else.
std::vector<mchost::FrameColumn> FrameColumns(const pybind11::list& columns, std::size_t& nRows);

}  // namespace mcregpy
