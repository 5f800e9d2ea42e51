#pragma once
#include <vector>

#include "companion/MCExport.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatus.h"
#include "hypothesis/MCTestStats.h"

namespace MCMath_850 {

// The results of a sequence of tests (one per model effect): four parallel
// vectors holding, per test, its record, the tested L matrix, the row index
// vector of its rows and the status of the test. The Add operations append
// copies and return false, leaving every vector unchanged, when memory runs
// out.
class MCREG_API MCModelTestStats {
public:
    MCModelTestStats() = default;
    virtual ~MCModelTestStats() = default;

    int GetNTests() const { return static_cast<int>(fvTestStats.size()); }

    // Null for an index outside the vector.
    const MCTestStats* GetTestStats(int i) const;
    MCTestStats* GetTestStats(int i);
    const MCRectMatrix* GetLMatrix(int i) const;
    const std::vector<int>* GetRowIndices(int i) const;
    const MCCommon_850::MCStatus* GetStatus(int i) const;

    bool AddTestStats(const MCTestStats& stats);
    bool AddLMatrix(const MCRectMatrix& L);
    bool AddStatus(const MCCommon_850::MCStatus& status);
    bool AddRowIndices(const std::vector<int>& rows);
    bool AddTestStatsAndLMatrix(const MCTestStats& stats, const MCRectMatrix& L);
    bool AddTestStatsAndLMatrixAndStatus(const MCTestStats& stats, const MCRectMatrix& L,
                                         const MCCommon_850::MCStatus& status);

    void Display() const;

private:
    std::vector<MCTestStats> fvTestStats;
    std::vector<MCRectMatrix> fvLMatrices;
    std::vector<std::vector<int>> fvRowIndices;
    std::vector<MCCommon_850::MCStatus> fvStatuses;
};

}  // namespace MCMath_850
