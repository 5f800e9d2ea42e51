#include "python/src/FrameColumns.h"

#include <pybind11/numpy.h>

#include <stdexcept>
#include <string>

namespace py = pybind11;

namespace mcregpy {

std::vector<mchost::FrameColumn> FrameColumns(const py::list& columns, std::size_t& nRows) {
    std::vector<mchost::FrameColumn> out;
    bool first = true;
    for (const py::handle item : columns) {
        const auto t = item.cast<py::tuple>();
        if (t.size() != 4)
            throw std::invalid_argument("a column is (name, array, labels, declared)");
        mchost::FrameColumn c;
        c.fName = t[0].cast<std::string>();
        const py::array a = t[1].cast<py::array>();
        if (a.ndim() != 1) throw std::invalid_argument("column '" + c.fName + "' is not 1-d");
        const auto n = static_cast<std::size_t>(a.shape(0));
        if (first) nRows = n;
        first = false;
        if (n != nRows)
            throw std::invalid_argument("column '" + c.fName +
                                        "' differs in length from the first");
        if (t[2].is_none()) {
            c.fKind = mchost::FrameColumn::kNumbers;
            if (a.dtype().is(py::dtype::of<double>()))
                c.fpNumbers = static_cast<const double*>(a.data());
            else if (a.dtype().is(py::dtype::of<std::int64_t>()))
                c.fpIntegers = static_cast<const std::int64_t*>(a.data());
            else
                throw std::invalid_argument("column '" + c.fName + "' is not float64 or int64");
            c.fStride = a.strides(0);
        } else {
            const bool integer = a.dtype().is(py::dtype::of<std::int8_t>()) ||
                                 a.dtype().is(py::dtype::of<std::int16_t>()) ||
                                 a.dtype().is(py::dtype::of<std::int32_t>());
            if (!integer || a.strides(0) != a.itemsize())
                throw std::invalid_argument("column '" + c.fName +
                                            "' codes are not contiguous int8, int16 or int32");
            c.fKind = mchost::FrameColumn::kCodes;
            c.fpCodes = a.data();
            c.fCodeBytes = static_cast<int>(a.itemsize());
            for (const py::handle label : t[2].cast<py::list>())
                c.fvLabels.push_back(label.cast<std::string>());
            c.fbDeclaredOrder = t[3].cast<bool>();
        }
        out.push_back(std::move(c));
    }
    return out;
}

}  // namespace mcregpy
