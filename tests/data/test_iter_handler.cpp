#include <gtest/gtest.h>

#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCMV.h"
#include "companion/MCMemoryRecordIter.h"
#include "data/MCRecordIterHandler.h"
#include "design/MCRegrParameter.h"
#include "stub_model.h"

using namespace MCMath_850;
using MCCommon_850::MCMemoryRecordIter;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;

namespace {

// A model whose sparse row is (intercept, covariate at position 2); a
// covariate of 99 stands for a cell the factor tables never saw. Category
// codes 0, 1, 2 with code 0 as the reference (last).
class FakeModel : public modeltest::StubModel {
public:
    int GetNParameters() const override { return 4; }
    int GetNNonRedParams() const override { return 4; }
    int GetNBasicParameters() const override { return 2; }
    int GetNBasicNonRed() const override { return 2; }
    int GetDependentNCategs() const override { return 3; }
    const std::vector<int>& GetDependCategories() const override { return fvCategories; }
    const std::vector<int>& GetDepCatLocalInds() const override { return fvLocal; }
    bool ExpandAndCompressRow(const double* row, int& count, std::vector<int>& columns,
                              std::vector<double>& values) const override {
        if (row[2] == 99) return false;
        columns = {0, 1};
        values = {1.0, row[2]};
        count = 2;
        return true;
    }

private:
    std::vector<int> fvCategories = {1, 2, 0};
    std::vector<int> fvLocal = {2, 0, 1};
};

struct Row {
    int category;
    double weight;
    double x;
    bool likelihoodOnly;
};

class FakeAccum : public IMCAccumStats {
public:
    bool Reset(MCConst::MCHessianCompMethod method, bool) override {
        fMethod = method;
        fvRows.clear();
        return true;
    }
    bool CheckConstraints() override { return true; }
    int UpdateForRow(const std::vector<int>& columns, const std::vector<double>& values,
                     int category, double weight, bool likelihoodOnly) override {
        if (static_cast<int>(fvRows.size()) == fRefuseAt) return -1;
        EXPECT_EQ(columns.size(), 2u);
        fvRows.push_back({category, weight, values.at(1), likelihoodOnly});
        return 0;
    }
    double GetLL() const override { return 0; }
    const std::vector<double>& GetScores() const override { return fvNone; }
    bool GetHessian(MCSymMatrix&) const override { return false; }
    void GetCounts(int&, int&, double&) const override {}
    void GetMinMaxProbabilities(double&, double&, double&) const override {}
    double GetStepAdjustmentFactor() const override { return 1.0; }
    void Display(bool) const override {}

    std::vector<Row> fvRows;
    int fRefuseAt = -1;
    int fMethod = 0;
    std::vector<double> fvNone;
};

// Positions: 0 dependent (3 codes), 1 frequency weight, 2 covariate,
// 3 regression weight.
const std::vector<MCConst::MCVariableType> kRoles = {
    MCConst::VAR_DEPENDENT, MCConst::VAR_FREQ_WEIGHT, MCConst::VAR_COVARIATE,
    MCConst::VAR_REGR_WEIGHT};

std::vector<Record> Data() {
    return {{1, 2, 0.5, 1.5},
            {0, 1, -1, 2},
            {2, 0, 1, 1} /* zero weight */,
            {MCMV::Missing(), 1, 1, 1},
            {2, 1, 99, 1} /* unseen cell */,
            {2, 1, 4, 0.5}};
}

}  // namespace

TEST(RecordIterHandler, FeedsValidRowsWithLocalCategoryAndWeight) {
    MCMemoryRecordIter iter(Data());
    MCCancelInfo cancel;
    const MCRegRecordValidator validator(kRoles, {}, {}, 3);
    FakeModel model;
    FakeAccum accum;
    MCRecordIterHandler handler(iter, cancel, validator, 0, 1, 3);
    EXPECT_FALSE(handler.ResetAccumStats(MCConst::HESSIAN_NEWTON, false));  // no accumulator yet
    handler.SetStatsModel(&accum, &model);
    for (bool likelihoodOnly : {false, true}) {
        EXPECT_TRUE(handler.ResetAccumStats(MCConst::HESSIAN_NEWTON, true));
        EXPECT_EQ(accum.fMethod, MCConst::HESSIAN_NEWTON);
        EXPECT_TRUE(handler.ComputeStatsForOptimizer(likelihoodOnly).IsOK());
        ASSERT_EQ(accum.fvRows.size(), 3u);
        const Row expected[3] = {{0, 3.0, 0.5, false}, {2, 2.0, -1.0, false}, {1, 0.5, 4.0, false}};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(accum.fvRows[i].category, expected[i].category);
            EXPECT_DOUBLE_EQ(accum.fvRows[i].weight, expected[i].weight);
            EXPECT_EQ(accum.fvRows[i].x, expected[i].x);
            EXPECT_EQ(accum.fvRows[i].likelihoodOnly, likelihoodOnly);
        }
    }
    EXPECT_TRUE(handler.GetWarnings().empty());
}

TEST(RecordIterHandler, ErrorsEndThePass) {
    MCCancelInfo cancel;
    const MCRegRecordValidator validator(kRoles, {}, {}, 3);
    FakeModel model;
    FakeAccum accum;

    // A malformed dependent code stops the pass with 316 but is not kept.
    std::vector<Record> data = Data();
    data.insert(data.begin() + 1, Record{3, 1, 0, 1});
    MCMemoryRecordIter bad(data);
    MCRecordIterHandler h1(bad, cancel, validator, 0, 1, 3);
    h1.SetStatsModel(&accum, &model);
    MCStatus s = h1.ComputeStatsForOptimizer(false);
    EXPECT_EQ(s.GetErrorCode(), 316);
    EXPECT_EQ(accum.fvRows.size(), 1u);
    EXPECT_TRUE(h1.GetStatus().IsOK());

    // A refused row gives 303, kept for later passes.
    MCMemoryRecordIter good(Data());
    MCRecordIterHandler h2(good, cancel, validator, 0, 1, 3);
    h2.SetStatsModel(&accum, &model);
    accum.Reset(MCConst::HESSIAN_FISHER, false);
    accum.fRefuseAt = 1;
    EXPECT_EQ(h2.ComputeStatsForOptimizer(false).GetErrorCode(), 303);
    accum.fRefuseAt = -1;
    accum.fvRows.clear();
    EXPECT_EQ(h2.ComputeStatsForOptimizer(false).GetErrorCode(), 303);
    EXPECT_TRUE(accum.fvRows.empty());

    // Data that cannot be restarted: 307 is kept for the later calls.
    MCMemoryRecordIter empty;
    MCRecordIterHandler h3(empty, cancel, validator, 0, 1, 3);
    h3.SetStatsModel(&accum, &model);
    // The pass itself runs over no record; the failed restart shows in the
    // status and in every later call.
    EXPECT_TRUE(h3.ComputeStatsForOptimizer(false).IsOK());
    EXPECT_EQ(h3.GetStatus().GetErrorCode(), 307);
    EXPECT_EQ(h3.ComputeStatsForOptimizer(false).GetErrorCode(), 307);

    // A cancel request ends the pass before any row.
    MCMemoryRecordIter again(Data());
    MCRecordIterHandler h4(again, cancel, validator, 0, 1, 3);
    h4.SetStatsModel(&accum, &model);
    cancel.SetCancel();
    EXPECT_FALSE(h4.ComputeStatsForOptimizer(false).IsError());
    EXPECT_TRUE(accum.fvRows.empty());
}
