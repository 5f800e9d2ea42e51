#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "companion/MCMV.h"
#include "data/MCRecordExtractor.h"
#include "data/MCRegRecordValidator.h"

using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;
using MCMath_850::MCRecordExtractor;
using MCMath_850::MCRegRecordValidator;
using namespace MCConst;

namespace {

// Positions: 0 dependent, 1 factor (3 categories), 2 covariate,
// 3 frequency weight, 4 regression weight, 5 unspecified.
const std::vector<MCVariableType> kRoles = {VAR_DEPENDENT,   VAR_FACTOR,      VAR_COVARIATE,
                                            VAR_FREQ_WEIGHT, VAR_REGR_WEIGHT, VAR_UNSPECIFIED};

struct Outcome {
    bool valid;
    long code;
    long position;
    double value;
};

Outcome Check(const MCRegRecordValidator& v, const Record& r, bool scoring = false) {
    MCStatus s;
    Outcome o{scoring ? v.IsValid4Scoring(r, s) : v.IsValidRecord(r, s), s.GetErrorCode(), -1, 0.0};
    // A status without data leaves position -1 and value 0.
    if (!s.GetDiscreteDatum(1, o.position)) o.position = -1;
    if (!s.GetScaleDatum(1, o.value)) o.value = 0.0;
    return o;
}

}  // namespace

// Valid, skipped (0, no status) or malformed (316 with the factor's
// position and value), by the rules and by the passes' inline check
// IsValidFitRecord, whose answer must be the rules' own at their edges.
TEST(RecordValidator, FactorCodesMalformedVersusSkipped) {
    const MCRegRecordValidator v(kRoles, {1}, {3}, 0);
    const double mv = MCMV::Missing();
    const double inf = INFINITY, nan = std::nan("");
    struct Case {
        Record record;
        bool valid;
        long code;
    };
    const std::vector<Case> cases = {
        {{7.5, 0, 1, 2, 0.5, mv}, true, 0},
        {{7.5, 1, 1, 2, 0.5, mv}, true, 0},
        {{7.5, 2, 1, 2, 0.5, mv}, true, 0},
        {{7.5, -0.0, 1, 2, 0.5, 0}, true, 0},
        {{7.5, 2.0, -0.0, 2, 0.5, 0}, true, 0},
        {{7.5, 0.0, 1e308, 2, 1e-300, 0}, true, 0},
        {{-mv, 1, 1, 2, 0.5, 0}, true, 0},
        // Out of range and fractional codes are malformed.
        {{7.5, 3, 1, 2, 0.5, 0}, false, 316},
        {{7.5, 1.5, 1, 2, 0.5, 0}, false, 316},
        {{7.5, 1e12, 1, 2, 0.5, 0}, false, 316},
        {{7.5, nan, 1, 2, 0.5, 0}, false, 316},
        {{7.5, -0.25, 1, 2, 0.5, 0}, false, 316},
        {{7.5, -0.5, 1, 2, 0.5, 0}, false, 316},
        {{7.5, 2.5, 1, 2, 0.5, 0}, false, 316},
        {{7.5, 2147483648.0, 1, 2, 0.5, 0}, false, 316},
        {{7.5, inf, 1, 2, 0.5, 0}, false, 316},
        // An infinite covariate, dependent or weight would make every sum
        // it enters inf or NaN: malformed too.
        {{7.5, 0.0, inf, 2, 1e-300, 0}, false, 342},
        {{7.5, 1, -inf, 2, 0.5, 0}, false, 342},
        {{-inf, 1, 1, 2, 0.5, 0}, false, 342},
        {{7.5, 1, 1, inf, 0.5, 0}, false, 342},
        {{7.5, 1, 1, 2, inf, 0}, false, 342},
        // Missing codes, a missing (or NaN) continuous value and
        // non-positive weights skip the record.
        {{7.5, -1, 1, 2, 0.5, 0}, false, 0},
        {{7.5, -0.51, 1, 2, 0.5, 0}, false, 0},
        {{7.5, -inf, 1, 2, 0.5, 0}, false, 0},
        {{7.5, mv, 1, 2, 0.5, 0}, false, 0},
        {{mv, 1, 1, 2, 0.5, 0}, false, 0},
        {{7.5, 1, mv, 2, 0.5, 0}, false, 0},
        {{7.5, 1, nan, 2, 0.5, 0}, false, 0},
        {{7.5, 1, 1, 0, 0.5, 0}, false, 0},
        {{7.5, 1, 1, -0.0, 0.5, 0}, false, 0},
        {{7.5, 1, 1, mv, 0.5, 0}, false, 0},
        {{7.5, 1, 1, 2, -0.5, 0}, false, 0},
        {{7.5, 1, 1, 2, nan, 0}, false, 0},
        // Positions are checked in order: a missing dependent before a bad
        // code skips the record; a bad code before a zero weight is an error.
        {{mv, 9, 1, 2, 0.5, 0}, false, 0},
        {{7.5, 9, 1, 0, 0.5, 0}, false, 316},
        {{7.5, 1, 1, 2}, false, 315},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        MCStatus s;
        EXPECT_EQ(v.IsValidFitRecord(c.record, s), c.valid);
        EXPECT_EQ(s.GetErrorCode(), c.code);
        const Outcome o = Check(v, c.record);
        EXPECT_EQ(o.valid, c.valid);
        EXPECT_EQ(o.code, c.code);
        if (c.code == 316) {
            EXPECT_EQ(o.position, 1);
            EXPECT_TRUE(o.value == c.record[1] || std::isnan(c.record[1]));
        }
        if (c.code == 342) {
            EXPECT_TRUE(std::isinf(c.record[static_cast<int>(o.position)]));
        }
    }
}

TEST(RecordValidator, CategoricalDependentLengthAndScoring) {
    const MCRegRecordValidator v(kRoles, {1}, {3}, 2);
    EXPECT_EQ(v.GetCategoryLimits(), (std::vector<int>{2, 3, 0, 0, 0, 0}));
    EXPECT_TRUE(Check(v, {1, 0, 0, 1, 1, 0}).valid);
    const Outcome bad = Check(v, {2, 0, 0, 1, 1, 0});
    EXPECT_EQ(bad.code, 316);
    EXPECT_EQ(bad.position, 0);
    EXPECT_EQ(bad.value, 2.0);

    // Shorter than the role map: 315 for a fit; scoring does not look at the
    // length, the dependent or the weights.
    const Record shortRec = {MCMV::Missing(), 2, 4.25};
    EXPECT_EQ(Check(v, shortRec).code, 315);
    EXPECT_TRUE(Check(v, shortRec, true).valid);
    MCStatus s;
    EXPECT_TRUE(v.IsValid4Scoring(Record{9, 2, 4.25, -1, -1, 0}.GetAll(), s));
    const Outcome scoreBad = Check(v, {0, 3, 4.25}, true);
    EXPECT_EQ(scoreBad.code, 316);
    EXPECT_EQ(scoreBad.position, 1);
    EXPECT_FALSE(Check(v, {0, 1, MCMV::Missing()}, true).valid);

    // A default validator accepts everything.
    EXPECT_TRUE(Check(MCRegRecordValidator(), {MCMV::Missing(), -4}).valid);
}

TEST(RecordExtractor, CompactLayout) {
    const MCRecordExtractor both(4, {1, 7}, {2}, 0, 5);
    EXPECT_EQ(both.GetNPositions(), 6);
    EXPECT_EQ(both.GetAllRecordIndices(), (std::vector<int>{4, 1, 7, 2, 0, 5}));
    EXPECT_EQ(both.GetFactorOffsets(), (std::vector<int>{1, 2}));
    EXPECT_EQ(both.GetCovariateOffsets(), (std::vector<int>{3}));
    EXPECT_EQ(both.GetFreqWeightOffset(), 4);
    EXPECT_EQ(both.GetRegrWeightOffset(), 5);
    const double rec[8] = {10, 11, 12, 13, 14, 15, 16, 17};
    double compact[6];
    both.Extract(rec, compact);
    EXPECT_EQ(std::vector<double>(compact, compact + 6),
              (std::vector<double>{14, 11, 17, 12, 10, 15}));

    MCRecordExtractor noWeights;
    noWeights.SetRecordIndices(0, {}, {3, 1}, -1, 2);
    EXPECT_EQ(noWeights.GetNPositions(), 4);
    EXPECT_EQ(noWeights.GetFreqWeightOffset(), -1);
    EXPECT_EQ(noWeights.GetRegrWeightOffset(), 3);
    EXPECT_EQ(noWeights.GetDependentOffset(), 0);
}

TEST(RecordValidator, ARecordWithoutItsClusterIsSkipped) {
    const std::vector<MCVariableType> roles = {VAR_DEPENDENT, VAR_COVARIATE, VAR_SUBJECT};
    const MCRegRecordValidator v(roles, {}, {}, 0);
    MCStatus status;
    const double with[] = {1.0, 2.0, 7.0};
    const double without[] = {1.0, 2.0, MCMV::Missing()};
    const double notANumber[] = {1.0, 2.0, std::nan("")};
    EXPECT_TRUE(v.IsValidRecord(with, 3, status));
    EXPECT_FALSE(v.IsValidRecord(without, 3, status));
    EXPECT_FALSE(v.IsValidRecord(notANumber, 3, status));
    EXPECT_TRUE(status.IsOK());  // skipped, not malformed
    // Scoring needs no cluster.
    EXPECT_TRUE(v.IsValid4Scoring(without, status));
}
