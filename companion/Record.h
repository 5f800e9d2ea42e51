#pragma once
#include <vector>

#include "companion/MCExport.h"

namespace MCCommon_850 {

// One case: a fixed-length array of doubles indexed by record position.
class MCREG_API Record {
public:
    Record() = default;
    explicit Record(int n) : fvValues(n > 0 ? static_cast<std::size_t>(n) : 0, 0.0) {}
    Record(std::initializer_list<double> values) : fvValues(values) {}
    explicit Record(std::vector<double> values) : fvValues(std::move(values)) {}

    double& operator[](int i) { return fvValues[static_cast<std::size_t>(i)]; }
    double operator[](int i) const { return fvValues[static_cast<std::size_t>(i)]; }
    double* GetAll() { return fvValues.data(); }
    const double* GetAll() const { return fvValues.data(); }
    int Size() const { return static_cast<int>(fvValues.size()); }
    void Resize(int n) { fvValues.assign(n > 0 ? static_cast<std::size_t>(n) : 0, 0.0); }

private:
    std::vector<double> fvValues;
};

}  // namespace MCCommon_850
