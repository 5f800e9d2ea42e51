#include "hypothesis/MCModelTestStats.h"

#include <new>
#include <string>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

using MCCommon_850::MCStatus;

namespace {

template <class T>
const T* At(const std::vector<T>& v, int i) {
    return i >= 0 && i < static_cast<int>(v.size()) ? &v[Ix(i)] : nullptr;
}

template <class T>
bool Append(std::vector<T>& v, const T& x) {
    try {
        v.push_back(x);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

}  // namespace

const MCTestStats* MCModelTestStats::GetTestStats(int i) const {
    return At(fvTestStats, i);
}

MCTestStats* MCModelTestStats::GetTestStats(int i) {
    return const_cast<MCTestStats*>(At(fvTestStats, i));
}

const MCRectMatrix* MCModelTestStats::GetLMatrix(int i) const {
    return At(fvLMatrices, i);
}

const std::vector<int>* MCModelTestStats::GetRowIndices(int i) const {
    return At(fvRowIndices, i);
}

const MCStatus* MCModelTestStats::GetStatus(int i) const {
    return At(fvStatuses, i);
}

bool MCModelTestStats::AddTestStats(const MCTestStats& stats) {
    return Append(fvTestStats, stats);
}

bool MCModelTestStats::AddLMatrix(const MCRectMatrix& L) {
    return Append(fvLMatrices, L);
}

bool MCModelTestStats::AddStatus(const MCStatus& status) {
    return Append(fvStatuses, status);
}

bool MCModelTestStats::AddRowIndices(const std::vector<int>& rows) {
    return Append(fvRowIndices, rows);
}

bool MCModelTestStats::AddTestStatsAndLMatrix(const MCTestStats& stats, const MCRectMatrix& L) {
    if (!Append(fvTestStats, stats)) return false;
    if (!Append(fvLMatrices, L)) {
        fvTestStats.pop_back();  // keep the vectors parallel
        return false;
    }
    return true;
}

bool MCModelTestStats::AddTestStatsAndLMatrixAndStatus(const MCTestStats& stats,
                                                       const MCRectMatrix& L,
                                                       const MCStatus& status) {
    if (!AddTestStatsAndLMatrix(stats, L)) return false;
    if (!Append(fvStatuses, status)) {
        fvTestStats.pop_back();
        fvLMatrices.pop_back();
        return false;
    }
    return true;
}

void MCModelTestStats::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCModelTestStats display start");
    DisplayI("Number of tests", GetNTests());
    for (int i = 0; i < GetNTests(); ++i) {
        DisplayI("Test", i);
        fvTestStats[Ix(i)].Display();
        if (const MCRectMatrix* L = GetLMatrix(i)) {
            DisplayText("L matrix:");
            L->Display();
        }
        if (const std::vector<int>* rows = GetRowIndices(i)) DisplayIV("Row indices", *rows);
        if (const MCStatus* s = GetStatus(i)) {
            DisplayI("Status code", s->GetErrorCode());
            DisplayB("Status is warning", s->IsWarning());
        }
    }
    DisplayText("MCModelTestStats display end");
}

}  // namespace MCMath_850
