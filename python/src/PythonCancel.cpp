#include "python/src/PythonCancel.h"

#include <pybind11/pybind11.h>

namespace mcregpy {

bool PythonCancel::IsCancel() {
    if (fStop.load()) return true;
    // The library asks between records: most questions cost a counter.
    if ((++fCalls & 255) != 0) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - fLast < std::chrono::milliseconds(50)) return false;
    fLast = now;
    return Poll();
}

bool PythonCancel::Poll() {
    if (fStop.load()) return true;
    pybind11::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
        PyErr_Clear();
        fStop = true;
    }
    return fStop.load();
}

}  // namespace mcregpy
