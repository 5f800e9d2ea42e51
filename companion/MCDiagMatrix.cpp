#include "companion/MCDiagMatrix.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

MCDiagMatrix::MCDiagMatrix(int n) {
    Resize(n);
}

MCDiagMatrix::MCDiagMatrix(const std::vector<double>& diagonal) : fvDiag(diagonal) {}

double MCDiagMatrix::GetElem(int i) const {
    return i >= 0 && i < GetNRows() ? fvDiag[Ix(i)] : 0.0;
}

void MCDiagMatrix::SetElem(int i, double value) {
    if (i >= 0 && i < GetNRows()) fvDiag[Ix(i)] = value;
}

bool MCDiagMatrix::Resize(int n) {
    try {
        fvDiag.resize(static_cast<std::size_t>(std::max(n, 0)), 0.0);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    } catch (const std::length_error&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

void MCDiagMatrix::Zero() {
    std::fill(fvDiag.begin(), fvDiag.end(), 0.0);
}

void MCDiagMatrix::Display() const {
    MCDisplay_850::DisplayText("MCDiagMatrix display start");
    MCDisplay_850::DisplayDV("Diagonal", fvDiag);
    MCDisplay_850::DisplayText("MCDiagMatrix display end");
}

}  // namespace MCMath_850
