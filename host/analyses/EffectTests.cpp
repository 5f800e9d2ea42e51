#include "host/analyses/EffectTests.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "companion/MCDistFun.h"
#include "companion/MCIndex.h"
#include "companion/MCStatusCodes.h"
#include "glm/MCGLMOutputStats.h"
#include "host/analyses/PartialSums.h"
#include "host/analyses/SequentialSums.h"
#include "host/base/HostError.h"
#include "hypothesis/MCModelEffectTest.h"
#include "hypothesis/MCModelTests.h"
#include "logistic/MCLogOutputStats.h"

namespace mchost {

using MCCommon_850::MCStatus;
using MCCommon_850::WarningStatus;
namespace StatusCode = MCCommon_850::StatusCode;
using namespace MCMath_850;

namespace {

MCConst::MCEffectAnalysisType AnalysisType(const TestTypes& t) {
    if (t.fbTypeI && t.fbTypeIII) return MCConst::ANALYSIS_TYPE_I_AND_III;
    return t.fbTypeI ? MCConst::ANALYSIS_TYPE_I : MCConst::ANALYSIS_TYPE_III;
}

// The facade numbers the effects with the intercept first (when used): the
// first parameter and the number of parameters of each.
class Layout {
public:
    std::vector<int> fvFirst, fvCount;
    std::vector<std::string> fvTerms;
};

Layout GlmLayout(const FittedModel& m) {
    Layout l;
    const bool intercept = m.fpSettings->GetInterceptUse();
    const std::size_t nEffects = m.fpSpec->GetEffectTexts().size() + (intercept ? 1 : 0);
    l.fvFirst.assign(nEffects, -1);
    l.fvCount.assign(nEffects, 0);
    const std::vector<MCRegrParameter>& params = m.fpStats->GetParameters();
    for (std::size_t k = 0; k < params.size(); ++k) {
        const int e = params[k].GetEffectIndex();
        const std::size_t slot = static_cast<std::size_t>(e < 0 ? 0 : e + (intercept ? 1 : 0));
        if (slot >= nEffects) continue;
        if (l.fvFirst[slot] < 0) l.fvFirst[slot] = static_cast<int>(k);
        ++l.fvCount[slot];
    }
    if (intercept) l.fvTerms.push_back("Intercept");
    for (const std::string& t : m.fpSpec->GetEffectTexts()) l.fvTerms.push_back(t);
    return l;
}

Layout LogisticLayout(const FittedModel& m, const MCLogOutputStats& log) {
    Layout l;
    if (m.fpSettings->GetInterceptUse()) l.fvTerms.push_back("Intercept");
    for (const std::string& t : m.fpSpec->GetEffectTexts()) l.fvTerms.push_back(t);
    for (std::size_t e = 0; e < l.fvTerms.size(); ++e) {
        int first = 0, count = 0;
        if (!log.GetParamsForEffect(static_cast<int>(e), first, count)) first = count = 0;
        l.fvFirst.push_back(first);
        l.fvCount.push_back(count);
    }
    return l;
}

// The sums of squares of a general linear model's hypotheses: each is its
// Wald chi-square with the unscaled covariance G, the swept matrix with the
// redundant rows cleared. That copy is made on first use: with the
// model-based covariance the sums of squares come from F instead.
class SumsOfSquares {
public:
    // swept: X'WX (perhaps bordered by the dependent) swept on the kept
    // pivots and negated.
    SumsOfSquares(const MCSymMatrix& swept, const std::vector<double>& b,
                  const MCBitSet& nonRedundant)
        : fSwept(swept), fB(b), fNonRedundant(nonRedundant) {}
    MCModelTests& Tester() {
        if (!fpTester) {
            if (!fSwept.CopyLeadingBlock(static_cast<int>(fB.size()), fGinv))
                throw std::bad_alloc();
            fGinv.ZeroOutRedundant(fNonRedundant);
            fpTester = std::make_unique<MCModelTests>(fB, fNonRedundant, fGinv, 0.0);
            fpTester->SetTestType(MCConst::TEST_CHISQUARE);
        }
        return *fpTester;
    }

private:
    const MCSymMatrix& fSwept;
    const std::vector<double>& fB;
    const MCBitSet& fNonRedundant;
    MCSymMatrix fGinv;
    std::unique_ptr<MCModelTests> fpTester;
};

// The rows of one table, from the library's test records. ssTester, for a
// general linear model, gives the sums of squares. With
// the model-based covariance, mse > 0 is the mean square it was scaled by,
// and a sum of squares is F df MSE, the same quadratic form undone, instead
// of a second one.
std::vector<EffectTestRow> Rows(const MCModelTestStats& stats, const Layout& layout,
                                SumsOfSquares* ssTester, double mse = 0.0) {
    std::vector<EffectTestRow> rows;
    for (int i = 0; i < stats.GetNTests() && static_cast<std::size_t>(i) < layout.fvTerms.size();
         ++i) {
        EffectTestRow row;
        row.fTerm = layout.fvTerms[static_cast<std::size_t>(i)];
        const MCTestStats& t = *stats.GetTestStats(i);
        const MCRectMatrix* L = stats.GetLMatrix(i);
        const bool tested = L != nullptr && L->GetNRows() > 0;
        row.fDF = tested ? HostValue(t.GetDF()) : 0.0;
        if (std::isnan(row.fDF)) row.fDF = L != nullptr ? L->GetNRows() : 0.0;
        row.fSig = HostValue(t.GetSig());
        if (ssTester == nullptr) {
            row.fChiSquare = HostValue(t.GetWald());
        } else {
            row.fF = HostValue(t.GetWald());
            row.fSS = 0.0;
            if (tested && mse > 0.0 && std::isfinite(row.fF) && row.fF >= 0.0) {
                row.fSS = row.fF * row.fDF * mse;
            } else if (tested) {
                MCTestStats ss;
                const MCStatus s = ssTester->Tester().ComputeOverallTest(*L, ss);
                row.fSS = s.IsError() ? kMissing : HostValue(ss.GetWald());
            }
            row.fMeanSquare = row.fDF > 0.0 ? row.fSS / row.fDF : kMissing;
        }
        if (!tested) row.fF = row.fChiSquare = row.fSig = kMissing;
        // With the model-based covariance an estimable hypothesis of full
        // row rank has a variance of full rank: a rank short of it is
        // rounding in L G L', which has lost the part of the hypothesis
        // it dropped, and no sum of squares or F is printed for it.
        if (tested && ssTester != nullptr && mse > 0.0 && row.fDF < L->GetNRows()) {
            row.fDF = L->GetNRows();
            row.fSS = row.fMeanSquare = row.fF = row.fSig = kMissing;
            row.fbRounding = true;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

EffectTestRow CorrectedModel(MCModelEffectTest& tests, const std::string& term,
                             SumsOfSquares* ssTester) {
    EffectTestRow row;
    row.fTerm = term;
    const MCModelTestStats* stats = tests.GetCorrectedModelTestStats(nullptr);
    if (stats == nullptr || stats->GetNTests() < 1) return row;
    Layout one;
    one.fvTerms.push_back(term);
    return Rows(*stats, one, ssTester).front();
}

// Which effects (as the layout numbers them) are tested by the sum of
// squares they add to all the others: those that no other effect contains
// (whose Type III hypothesis is then that sum) among few other parameters,
// or large among not too many, where sweeping the others' pivots costs
// less than the quadratic form of the effect's own hypothesis, of the
// effect's order. Among few others the sum is taken for its accuracy as
// well: the hypothesis inverts L G L', whose conditioning follows the
// parametrisation (with a covariate far from zero an effect's hypothesis
// mixes directions known to 1e-20 with others known to 1e-3, and its F
// loses digits long before its rank), while the others' block swept in
// extended precision does not.
constexpr double kFewOthers = 200.0;  // a sweep of some 3e6 extended products

std::vector<char> PartialEffects(const FittedModel& m, const Layout& layout,
                                 const MCBitSet& nonRedundant) {
    const std::vector<MCModelEffect>& effects = m.fpSettings->GetModelEffects();
    const int offset = m.fpSettings->GetInterceptUse() ? 1 : 0;
    std::vector<char> partial(layout.fvTerms.size(), 0);
    for (std::size_t e = 0; e < partial.size(); ++e) {
        const int i = static_cast<int>(e) - offset;
        if (i < 0 || static_cast<std::size_t>(i) >= effects.size()) continue;
        bool contained = false;
        for (std::size_t f = 0; f < effects.size() && !contained; ++f)
            contained = static_cast<int>(f) != i && effects[Ix(i)].IsContainedIn(effects[f]);
        const double own = nonRedundant.InRange(layout.fvFirst[e], layout.fvCount[e]);
        const double others = nonRedundant.Count() - own;
        // The partial sum sweeps the others' small bordered block and reads
        // the effect's own block once, in extended precision (about ten
        // times a double's step); the hypothesis factors the effect's block.
        const bool cheap = others <= kFewOthers ||
                           (own >= 32 && 10.0 * (others * others * others / 3.0 + own * own) <
                                             own * own * own / 3.0);
        partial[e] = !contained && own > 0 && cheap;
    }
    return partial;
}

// A row from a sum of squares on df degrees of freedom: its F is the mean
// square over the error's (mse > 0), on df and the error df.
EffectTestRow AnovaRow(const std::string& term, double ss, double df, double mse, double errorDF) {
    EffectTestRow row;
    row.fTerm = term;
    row.fDF = df;
    row.fSS = df > 0.0 ? ss : 0.0;
    if (df > 0.0) {
        row.fMeanSquare = row.fSS / df;
        if (mse > 0.0) {
            row.fF = row.fMeanSquare / mse;
            row.fSig = HostValue(MCDistFun::SigF(row.fF, df, errorDF));
        }
    }
    return row;
}

// A Type III row from the effect's hypothesis, as the library's tests of
// all effects would give it.
EffectTestRow HypothesisRow(MCModelEffectTest& tests, int e, const std::string& term,
                            MCModelTests& tester, SumsOfSquares& ssTester, double mse) {
    MCModelTestStats one;
    const MCRectMatrix* built = tests.ComputeLMatrix(e);
    MCRectMatrix L = built != nullptr ? *built : MCRectMatrix();
    if (L.GetNRows() > 0 && L.ExtractFullRank(1e-12, nullptr) >= 0) {
        tester.ComputeModelTest(L, MCStatus(), one);
    } else {
        MCTestStats untested;
        untested.SetTestType(MCConst::TEST_WALD_F);
        one.AddTestStatsAndLMatrixAndStatus(untested, MCRectMatrix(),
                                            WarningStatus(StatusCode::kEmptyLMatrix));
    }
    Layout single;
    single.fvTerms.push_back(term);
    return Rows(one, single, &ssTester, mse).front();
}

// Passes the host's cancel on to the library, which asks once before each
// effect, and shows which effect is under way.
class EffectPoll : public MCCommon_850::MCQueryCancel {
public:
    EffectPoll(MCCommon_850::MCQueryCancel* cancel, const EffectProgress& progress, int effects)
        : fpCancel(cancel), fProgress(progress), fEffects(effects) {}
    bool IsCancel() override {
        if (fProgress && fEffects > 0) fProgress(fPolls++ % fEffects, fEffects);
        return fpCancel != nullptr && fpCancel->IsCancel();
    }

private:
    MCCommon_850::MCQueryCancel* fpCancel;
    const EffectProgress& fProgress;
    int fEffects;
    int fPolls = 0;
};

// Type I rows from the sequential sums of squares, which add up to the
// model's.
std::vector<EffectTestRow> SequentialRows(const SequentialSums& sums, const Layout& layout,
                                          double mse, double errorDF) {
    std::vector<EffectTestRow> rows;
    for (std::size_t e = 0; e < sums.fvSS.size() && e < layout.fvTerms.size(); ++e)
        rows.push_back(AnovaRow(layout.fvTerms[e], sums.fvSS[e], sums.fvDF[e], mse, errorDF));
    return rows;
}

EffectTests TestGlm(const FittedModel& m, const UsedData& used, const TestTypes& types,
                    MCCommon_850::MCQueryCancel* cancel, const EffectProgress& progress) {
    const auto& glm = dynamic_cast<const MCGLMOutputStats&>(*m.fpStats);
    EffectTests r;
    r.fTypes = types;
    r.fbIntercept = m.fpSettings->GetInterceptUse();
    const MCBitSet& nonRedundant = glm.GetRedundancyIndicators();
    const int p = static_cast<int>(glm.GetParameters().size());
    // X'WX bordered by the dependent, and the same swept on the fit's
    // pivots and negated: the generalised inverse the tests take with the
    // fit's own redundancy, whatever the tolerance.
    const MCSymMatrix* bordered = glm.GetCrossProducts();
    const MCSymMatrix* full = glm.GetSweptCrossProducts();
    const std::vector<double>& scale = glm.GetCrossProductScale();
    if (bordered == nullptr || full == nullptr || bordered->GetNRows() != p + 1 ||
        scale.size() != Ix(p + 1))
        throw std::logic_error(
            "the tests of a general linear model need the cross products "
            "the fit keeps (SetKeepCrossProducts)");
    const double tol = m.fpSettings->GetTolerance();

    const double errorDF = HostValue(glm.GetErrorDF());
    const double testDF = HostValue(glm.GetTestDF());
    const bool modelBased = m.fpSettings->GetSandwichType() < 0;
    const double W = glm.GetTotalFreqWeight();
    const double rmse = HostValue(glm.GetModelFitStat(MCConst::FIT_RMSE));
    const double sse = rmse * rmse * W;
    const double mse = modelBased && errorDF > 0.0 ? sse / errorDF : 0.0;
    const Layout layout = GlmLayout(m);
    const int nEffects = static_cast<int>(layout.fvTerms.size());

    const bool sequential = types.fbTypeI && modelBased;
    const std::string modelTerm = r.fbIntercept ? "Corrected model" : "Model";
    const double modelSS = (r.fbIntercept ? used.fCorrectedSS : used.fRawSS) - sse;
    const double modelDF = static_cast<double>(nonRedundant.Count() - (r.fbIntercept ? 1 : 0));
    const bool modelFromTotals = mse > 0.0 && modelDF > 0.0 && modelSS > 1e-6 * (sse + modelSS);
    const bool library = types.fbTypeIII || (types.fbTypeI && !sequential) || !modelFromTotals;

    // Sequential sums of squares fall out of sweeping the bordered matrix
    // in model order; they have no robust form.
    if (sequential) {
        const auto show = [&](int e) {
            if (progress) progress(e, nEffects);
        };
        r.fvTypeI =
            SequentialRows(ComputeSequentialSums(*bordered, layout.fvFirst, layout.fvCount,
                                                 nonRedundant, scale, tol, full, cancel, show),
                           layout, mse, errorDF);
    }

    // The model's sum of squares is what the residuals leave of the total:
    // no quadratic form of every parameter is needed. Where the model
    // explains almost nothing that difference would lose digits, and the
    // quadratic form is taken instead.
    if (modelFromTotals) r.fCorrectedModel = AnovaRow(modelTerm, modelSS, modelDF, mse, errorDF);

    if (library) {
        TestTypes asked = types;
        asked.fbTypeI = types.fbTypeI && !sequential;
        if (!asked.Any()) asked.fbTypeIII = true;  // for the model's test alone
        EffectPoll poll(cancel, progress, nEffects);
        MCRegSettings settings = *m.fpSettings;
        settings.SetProgressListener(nullptr);
        settings.SetCancelPointer(&poll);
        settings.SetTestType(MCConst::TEST_WALD_F);
        const std::vector<double>& b = glm.GetParamEstimates();
        MCModelEffectTest tests(settings, settings.GetModelEffects(), b, layout.fvFirst,
                                layout.fvCount, AnalysisType(asked), glm.GetCovarianceMatrix(),
                                full, &nonRedundant, MCConst::DIST_NORMAL, 2, nullptr,
                                std::isnan(testDF) ? 0.0 : testDF, nullptr);
        if (tests.GetStatus().IsError()) ThrowLibraryError(tests.GetStatus());
        const std::vector<char> partial = types.fbTypeIII && mse > 0.0
                                              ? PartialEffects(m, layout, nonRedundant)
                                              : std::vector<char>();
        const bool byEffect = std::find(partial.begin(), partial.end(), 1) != partial.end();
        if (byEffect) asked.fbTypeIII = false;
        if (asked.fbTypeI || (types.fbTypeIII && !byEffect)) {
            const MCStatus status = tests.TestModelEffect();
            if (status.GetErrorCode() == StatusCode::kCancelled)
                throw HostError(HostError::kInterrupted, "interrupted");
            if (status.IsError()) ThrowLibraryError(status);
        }

        SumsOfSquares ssTester(*full, b, nonRedundant);
        if (asked.fbTypeI) r.fvTypeI = Rows(*tests.GetTypeITestStats(), layout, &ssTester, mse);
        if (byEffect) {
            // Effect by effect: the large ones that nothing contains by the
            // sum of squares they add to the others, the rest by their
            // hypotheses.
            MCModelTests tester(b, nonRedundant, *glm.GetCovarianceMatrix(),
                                std::isnan(testDF) ? 0.0 : testDF);
            tester.SetTestType(MCConst::TEST_WALD_F);
            tester.SetConfidenceLevel(settings.GetConfidenceLevel());
            for (int e = 0; e < nEffects; ++e) {
                if (poll.IsCancel()) throw HostError(HostError::kInterrupted, "interrupted");
                const std::string& term = layout.fvTerms[Ix(e)];
                if (partial[Ix(e)]) {
                    const PartialSum sum =
                        ComputePartialSum(*bordered, layout.fvFirst[Ix(e)], layout.fvCount[Ix(e)],
                                          nonRedundant, b, scale, tol, cancel);
                    if (sum.fDF ==
                        nonRedundant.InRange(layout.fvFirst[Ix(e)], layout.fvCount[Ix(e)])) {
                        r.fvTypeIII.push_back(AnovaRow(term, sum.fSS, sum.fDF, mse, errorDF));
                        continue;
                    }
                }
                r.fvTypeIII.push_back(HypothesisRow(tests, e, term, tester, ssTester, mse));
            }
        } else if (types.fbTypeIII) {
            r.fvTypeIII = Rows(*tests.GetTypeIIITestStats(), layout, &ssTester, mse);
        }
        if (!modelFromTotals) r.fCorrectedModel = CorrectedModel(tests, modelTerm, &ssTester);
    }
    // With a robust covariance F is the Wald statistic over its df, no
    // longer a ratio of mean squares: a sum of squares beside it would
    // not give it back.
    if (!modelBased) {
        for (std::vector<EffectTestRow>* rows : {&r.fvTypeI, &r.fvTypeIII})
            for (EffectTestRow& row : *rows) row.fSS = row.fMeanSquare = kMissing;
        r.fCorrectedModel.fSS = r.fCorrectedModel.fMeanSquare = kMissing;
    }

    for (const EffectTestRow& row : r.fvTypeIII)
        if (row.fbRounding)
            r.fvWarnings.push_back("warning: the Type III hypothesis of " + row.fTerm +
                                   " is too ill-conditioned to test in double precision "
                                   "(a covariate far from zero?); its test is left empty");
    r.fError.fTerm = "Error";
    r.fError.fDF = errorDF;
    r.fError.fSS = sse;
    r.fError.fMeanSquare = errorDF > 0.0 ? r.fError.fSS / errorDF : kMissing;
    r.fTotal.fTerm = "Total";
    r.fTotal.fDF = W;
    r.fTotal.fSS = used.fRawSS;
    r.fCorrectedTotal.fTerm = "Corrected total";
    r.fCorrectedTotal.fDF = W - 1.0;
    r.fCorrectedTotal.fSS = used.fCorrectedSS;
    return r;
}

EffectTests TestLogistic(const FittedModel& m, const TestTypes& types) {
    const auto& log = dynamic_cast<const MCLogOutputStats&>(*m.fpStats);
    EffectTests r;
    r.fbLogistic = true;
    r.fTypes = types;
    r.fbIntercept = m.fpSettings->GetInterceptUse();
    const MCSymMatrix* swept = log.GetSweptCrossProduct();
    if (swept == nullptr) throw std::logic_error("a logistic fit without its swept X'X");
    MCSymMatrix ginv = *swept;
    ginv.Scale(-1.0);
    MCRegSettings settings = *m.fpSettings;
    settings.SetProgressListener(nullptr);
    settings.SetTestType(MCConst::TEST_CHISQUARE);
    const Layout layout = LogisticLayout(m, log);
    MCModelEffectTest tests(
        settings, settings.GetModelEffects(), log.GetParamEstimates(), layout.fvFirst,
        layout.fvCount, AnalysisType(types), log.GetCovarianceMatrix(), &ginv,
        &log.GetRedundancyIndicators(), MCConst::DIST_NOM_MULTINOMIAL,
        static_cast<int>(m.fvModelCategories.size()), &log.GetBasicRedundancy(), 0.0, nullptr);
    if (tests.GetStatus().IsError()) ThrowLibraryError(tests.GetStatus());
    if (const MCSymMatrix* sums = log.GetCrossProduct(); sums != nullptr && types.fbTypeI)
        tests.SetCrossProduct(*sums);
    const MCStatus status = tests.TestModelEffect();
    if (status.IsError()) ThrowLibraryError(status);
    if (types.fbTypeI) r.fvTypeI = Rows(*tests.GetTypeITestStats(), layout, nullptr);
    if (types.fbTypeIII) r.fvTypeIII = Rows(*tests.GetTypeIIITestStats(), layout, nullptr);
    r.fCorrectedModel = CorrectedModel(tests, r.fbIntercept ? "Corrected model" : "Model", nullptr);
    return r;
}

}  // namespace

TestTypes TestTypes::Parse(const std::string& text) {
    TestTypes t;
    if (text == "1") {
        t.fbTypeI = true;
    } else if (text == "3") {
        t.fbTypeIII = true;
    } else if (text == "1,3" || text == "3,1") {
        t.fbTypeI = t.fbTypeIII = true;
    } else {
        throw HostError(HostError::kUsage,
                        "--tests takes 1 (Type I), 3 (Type III) or 1,3 (both), not '" + text + "'");
    }
    return t;
}

EffectTests TestEffects(const FittedModel& model, const UsedData& used, const TestTypes& types,
                        MCCommon_850::MCQueryCancel* cancel, const EffectProgress& progress) {
    return model.fbLogistic ? TestLogistic(model, types)
                            : TestGlm(model, used, types, cancel, progress);
}

}  // namespace mchost
