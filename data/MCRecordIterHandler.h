#pragma once
#include <vector>

#include "companion/MCCancelInfo.h"
#include "companion/MCStatus.h"
#include "companion/RecordIterator.h"
#include "data/MCCellRowCache.h"
#include "data/MCRegRecordValidator.h"
#include "settings/IMCRegInterfaces.h"

namespace MCMath_850 {

// The data handler that reads the host's records for the passes of the
// logistic estimation and feeds each valid record's sparse design row to the
// accumulator, or replays the rows of an earlier pass (see
// ComputeStatsForOptimizer). None of the objects it is given is owned.
class MCRecordIterHandler : public IMCDataHandler {
public:
    // Weight positions below 0 are absent.
    MCRecordIterHandler(MCCommon_850::MultiPassRecordIter& iter, MCCancelInfo& cancelInfo,
                        const MCRegRecordValidator& validator, int depVar, int freqWeightVar,
                        int regrWeightVar);
    MCRecordIterHandler(const MCRecordIterHandler&) = delete;
    MCRecordIterHandler& operator=(const MCRecordIterHandler&) = delete;

    void SetStatsModel(IMCAccumStats* accum, const IMCRegModel* model) override;
    // Forwards to the accumulator; false without one.
    bool ResetAccumStats(MCConst::MCHessianCompMethod method, bool checkSeparation) override;
    void CleanStatsModel() override;
    // One pass over the records. The rows of the first pass that completes
    // are kept when they all take the accumulator's cell path (see
    // MCCellRowCache), and the later passes replay them. A failed restart is kept as error 307 for
    // later calls; a null record (304), a malformed record (315, 316) or a
    // row the accumulator refuses (303, also kept) end the pass.
    MCCommon_850::MCStatus ComputeStatsForOptimizer(bool likelihoodOnly) override;
    const std::vector<MCCommon_850::MCStatus>& GetWarnings() const override { return fvWarnings; }
    void Display() const override {}

    const MCCommon_850::MCStatus& GetStatus() const { return fStatus; }
    // The records are one process's part of a split fit, which may be
    // empty: a restart that finds no record is then no error.
    void SetPartOfSplit(bool on) { fbPartOfSplit = on; }

private:
    MCCommon_850::MCStatus fStatus;
    std::vector<MCCommon_850::MCStatus> fvWarnings;
    MCCommon_850::MultiPassRecordIter* fpIter;
    MCCancelInfo* fpCancel;
    const IMCRegModel* fpModel = nullptr;
    IMCAccumStats* fpAccum = nullptr;
    int fDepVar;
    int fFreqWeightVar;
    int fRegrWeightVar;
    const MCRegRecordValidator* fpValidator;
    // Scratch of the sparse rows, reused for every record.
    std::vector<int> fvColumns;
    std::vector<double> fvValues;
    std::vector<int> fvSources;
    bool fbPartOfSplit = false;

    // Records of one cell (the same parameter in every effect) are summed by
    // the accumulator per cell when the model describes its cells and their
    // number is small enough to number them directly: a record's cell number
    // is the mixed-radix number of its cells in the effects with factors.
    bool fbCells = false;
    std::vector<std::size_t> fvCellEffects;
    std::vector<int> fvCellOffsets;
    std::vector<int> fvCellStrides;
    // The cell number of a record's parameter indices.
    int CellNumber(const std::vector<int>& indices) const;
    void SetUpCells();

    // The rows of a pass, kept for the passes after it, and the status
    // that pass returned.
    MCCellRowCache fRows;
    MCCommon_850::MCStatus fReplayResult;
    // A pass over the host's records, from the status result.
    MCCommon_850::MCStatus ReadPass(bool likelihoodOnly, MCCommon_850::MCStatus result);
    // A pass over the kept rows.
    MCCommon_850::MCStatus Replay(bool likelihoodOnly);
};

}  // namespace MCMath_850
