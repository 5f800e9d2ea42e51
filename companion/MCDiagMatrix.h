#pragma once
#include <vector>

#include "companion/MCExport.h"

namespace MCMath_850 {

// A diagonal n x n matrix kept as the vector of its diagonal.
class MCREG_API MCDiagMatrix {
public:
    MCDiagMatrix() = default;
    explicit MCDiagMatrix(int n);
    explicit MCDiagMatrix(const std::vector<double>& diagonal);
    virtual ~MCDiagMatrix() = default;
    MCDiagMatrix(const MCDiagMatrix&) = default;
    MCDiagMatrix& operator=(const MCDiagMatrix&) = default;
    MCDiagMatrix(MCDiagMatrix&&) = default;
    MCDiagMatrix& operator=(MCDiagMatrix&&) = default;

    int GetNRows() const { return static_cast<int>(fvDiag.size()); }
    // Element (i, i); 0 for an index out of range.
    double GetElem(int i) const;
    // Element (j, k): 0 off the diagonal or out of range.
    double GetElem(int j, int k) const { return j == k ? GetElem(j) : 0.0; }
    // Ignored for an index out of range.
    void SetElem(int i, double value);
    const std::vector<double>& AsVector() const { return fvDiag; }
    std::vector<double>& AsVector() { return fvDiag; }
    // New elements are 0; false when the allocation fails (unchanged).
    bool Resize(int n);
    void Zero();
    void Display() const;

private:
    std::vector<double> fvDiag;
};

}  // namespace MCMath_850
