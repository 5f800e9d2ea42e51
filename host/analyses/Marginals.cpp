#include "host/analyses/Marginals.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "companion/MCCancelInfo.h"
#include "companion/MCStatusCodes.h"
#include "design/MCContrasts.h"
#include "design/MCLiteDesignMatrix.h"
#include "glm/MCGLMOutputStats.h"
#include "host/analyses/Estimability.h"
#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "marginals/MCMarginals.h"

namespace mchost {

using MCCommon_850::MCStatus;
using namespace MCMath_850;

namespace {

// A test that compares nothing: a combination of the other factors with
// one level of the compare factor (an incomplete design).
bool NothingToCompare(const MCStatus& s) {
    using namespace MCCommon_850::StatusCode;
    return s.GetErrorCode() == kOneRowTest || s.GetErrorCode() == kOneLevelCompare;
}

bool StepDown(MCConst::MCPAdjustMethod m) {
    return m == MCConst::PADJ_SEQ_BONFERRONI || m == MCConst::PADJ_SEQ_SIDAK;
}

const char* ContrastName(MCConst::MCContrastType t) {
    switch (t) {
        case MCConst::CONTRAST_SIMPLE:
            return "simple";
        case MCConst::CONTRAST_DEVIATION:
            return "deviation";
        case MCConst::CONTRAST_HELMERT:
            return "helmert";
        case MCConst::CONTRAST_DIFFERENCE:
            return "difference";
        case MCConst::CONTRAST_REPEATED:
            return "repeated";
        case MCConst::CONTRAST_POLYNOMIAL:
            return "polynomial";
        default:
            return "";
    }
}

const char* AdjustName(MCConst::MCPAdjustMethod m) {
    switch (m) {
        case MCConst::PADJ_BONFERRONI:
            return "bonferroni";
        case MCConst::PADJ_SIDAK:
            return "sidak";
        case MCConst::PADJ_SEQ_BONFERRONI:
            return "holm";
        case MCConst::PADJ_SEQ_SIDAK:
            return "stepdown-sidak";
        default:
            return "none";
    }
}

// "mean(a, b)" or, for one level, the level itself.
std::string MeanOf(const std::vector<std::string>& levels) {
    if (levels.size() == 1) return levels.front();
    std::string out = "mean(";
    for (std::size_t i = 0; i < levels.size(); ++i) out += (i ? ", " : "") + levels[i];
    return out + ")";
}

// The contrast over the levels of one combination, as the library builds
// it: one row per comparison, one column per level in ascending order.
MCRectMatrix Coefficients(const EmmeansRequest& r, const std::vector<int>& levels) {
    const int k = static_cast<int>(levels.size());
    MCRectMatrix C;
    MCStatus s;
    switch (r.fContrast) {
        case MCConst::CONTRAST_SIMPLE: {
            const auto at = std::find(levels.begin(), levels.end(), r.fReference);
            s = MCContrasts::ComputeSimpleContrast(
                k, at == levels.end() ? k - 1 : static_cast<int>(at - levels.begin()), C);
            break;
        }
        case MCConst::CONTRAST_DEVIATION:
            s = MCContrasts::ComputeDeviationContrast(k, C);
            break;
        case MCConst::CONTRAST_HELMERT:
            s = MCContrasts::ComputeHelmertContrast(k, C);
            break;
        case MCConst::CONTRAST_DIFFERENCE:
            s = MCContrasts::ComputeDifferenceContrast(k, C);
            break;
        case MCConst::CONTRAST_REPEATED:
            s = MCContrasts::ComputeRepeatedContrast(k, C);
            break;
        default:
            s = MCContrasts::ComputePolynomialContrast(k, r.fvMetric, C);
    }
    if (s.IsError()) ThrowLibraryError(s);
    return C;
}

std::vector<std::string> RowNames(const EmmeansRequest& r, const std::vector<std::string>& texts) {
    const std::size_t k = texts.size();
    std::vector<std::string> names;
    for (std::size_t i = 0; i + 1 < k || (r.fContrast == MCConst::CONTRAST_DEVIATION && i < k);
         ++i) {
        switch (r.fContrast) {
            case MCConst::CONTRAST_SIMPLE:
                break;
            case MCConst::CONTRAST_DEVIATION:
                names.push_back(texts[i] + " - mean");
                break;
            case MCConst::CONTRAST_HELMERT:
                names.push_back(texts[i] + " - " +
                                MeanOf({texts.begin() + static_cast<long>(i) + 1, texts.end()}));
                break;
            case MCConst::CONTRAST_DIFFERENCE:
                names.push_back(texts[i + 1] + " - " +
                                MeanOf({texts.begin(), texts.begin() + static_cast<long>(i) + 1}));
                break;
            case MCConst::CONTRAST_REPEATED:
                names.push_back(texts[i] + " - " + texts[i + 1]);
                break;
            default: {
                static const char* kDegree[] = {"linear", "quadratic", "cubic", "quartic"};
                names.push_back(i < 4 ? kDegree[i] : "degree " + std::to_string(i + 1));
            }
        }
    }
    return names;
}

// The rows of a request's means by their categories (codes in the term's
// factor order).
using RowOfCells = std::map<std::vector<int>, int>;

// Stands between the library and the host's cancel query: the library asks
// once per mean and once per comparison, which also tells how far a test's
// comparisons have come. The host's own loops over the results ask too.
class PollRelay : public MCCommon_850::MCQueryCancel {
public:
    explicit PollRelay(const EmmeansControl& control) : fControl(control) {}

    bool IsCancel() override {
        if (fControl.fOnProgress && ++fPolls % kReportEvery == 0) Report();
        return fControl.fpCancel != nullptr && fControl.fpCancel->IsCancel();
    }
    // Throws HostError (interrupted) on a cancel.
    void Check() {
        if (IsCancel()) throw HostError(HostError::kInterrupted, "interrupted");
    }
    void StartTerm(std::size_t term, std::size_t nTerms, const std::string& name) {
        fProgress.fTerm = term;
        fProgress.fNTerms = nTerms;
        fProgress.fTermName = name;
        StartTest(-1, 0, 0.0);
    }
    // A test whose comparisons take about `polls` polls.
    void StartTest(int test, int nTests, double polls) {
        fProgress.fTest = test;
        fProgress.fNTests = nTests;
        fStart = fPolls;
        fExpected = polls;
        Report();
    }

private:
    static constexpr std::size_t kReportEvery = 1024;
    void Report() {
        if (!fControl.fOnProgress) return;
        const double done = static_cast<double>(fPolls - fStart);
        fProgress.fShare = fExpected > 0.0 ? std::min(1.0, done / fExpected) : 0.0;
        fControl.fOnProgress(fProgress);
    }

    const EmmeansControl& fControl;
    EmmeansProgress fProgress;
    std::size_t fPolls = 0, fStart = 0;
    double fExpected = 0.0;
};

// What one MCMarginals reads, kept alive beside it.
class Run {
public:
    MCRegSettings fSettings;
    std::vector<double> fvEstimates;
    // The model's covariance itself when the block is all of it, else a
    // copy of the block in fOwnCovariance.
    const MCSymMatrix* fpCovariance = nullptr;
    MCSymMatrix fOwnCovariance;
    MCBitSet fNonRedundant;
    std::unique_ptr<MCLiteDesignMatrix> fpDesign;
    MCCancelInfo fCancel;
    std::unique_ptr<MCMarginals> fpMarginals;
};

// The marginal means of the parameters of one logit (block, of q = fNBasic
// parameters; the only block of a general linear model).
std::unique_ptr<Run> MakeRun(const FittedModel& m, const UsedData& used,
                             const std::vector<EmmeansRequest>& requests, int block,
                             MCConst::MCEmmScaleType scale, MCConst::LinkType link,
                             PollRelay& relay) {
    auto run = std::make_unique<Run>();
    run->fCancel.SetQuery(&relay);
    run->fSettings = *m.fpSettings;
    run->fSettings.SetProgressListener(nullptr);
    run->fSettings.SetTestType(m.fbLogistic ? MCConst::TEST_CHISQUARE : MCConst::TEST_WALD_F);
    const int q = m.fNBasic;
    const int offset = block * q;
    const std::vector<double>& b = m.fpStats->GetParamEstimates();
    const MCSymMatrix& V = *m.fpStats->GetCovarianceMatrix();
    const MCBitSet& nonRedundant = m.fpStats->GetRedundancyIndicators();
    run->fvEstimates.assign(b.begin() + offset, b.begin() + offset + q);
    run->fNonRedundant = MCBitSet(q);
    for (int i = 0; i < q; ++i) run->fNonRedundant.Set(i, nonRedundant.IsIn(offset + i));
    if (V.GetNRows() == q) {
        run->fpCovariance = &V;
    } else {
        run->fOwnCovariance = MCSymMatrix(q);
        for (int i = 0; i < q; ++i)
            for (int j = 0; j <= i; ++j)
                run->fOwnCovariance.SetElem(i, j, V.GetElem(offset + i, offset + j));
        run->fpCovariance = &run->fOwnCovariance;
    }
    run->fpDesign = std::make_unique<MCLiteDesignMatrix>(
        run->fSettings.GetFactors(), std::vector<int>(), run->fSettings.GetCovariates());
    const std::vector<MCRegrParameter>& params = m.fpStats->GetParameters();
    for (int i = 0; i < q; ++i)
        if (!run->fpDesign->AddRegrParameter(params[static_cast<std::size_t>(i)]))
            ThrowLibraryError(run->fpDesign->GetStatus());

    std::vector<MCEmmeansSpec> specs;
    for (const EmmeansRequest& r : requests) {
        MCEmmeansSpec s;
        for (int f : r.fvFactors) s.AddFactor(f);
        if (r.fCompare >= 0) s.AddCompareFactor(r.fCompare);
        s.SetContrastType(r.fContrast);
        if (r.fContrast == MCConst::CONTRAST_SIMPLE) s.SetRefCateg(r.fReference);
        if (r.fContrast == MCConst::CONTRAST_POLYNOMIAL) s.SetMetricValueList(r.fvMetric);
        s.SetPAdjust(r.fAdjust);
        s.SetEmmScaleType(scale);
        specs.push_back(std::move(s));
    }
    run->fpMarginals = std::make_unique<MCMarginals>(run->fSettings, specs, *run->fpDesign,
                                                     run->fvEstimates, run->fCancel, used.fvMean,
                                                     m.fpStats->GetFactorCounts(), link, 0.0);
    if (run->fpMarginals->GetStatus().IsError()) ThrowLibraryError(run->fpMarginals->GetStatus());
    // Chi-square tests read no error df, but intervals on the response
    // scale are only made for a positive one: any positive value will do.
    double errorDF = m.fpStats->GetTotalFreqWeight();
    if (const auto* glm = dynamic_cast<const MCGLMOutputStats*>(m.fpStats))
        errorDF = std::max(0.0, HostValue(glm->GetTestDF()));
    const MCStatus s = run->fpMarginals->SetEmmeansTesting(run->fpCovariance, run->fNonRedundant,
                                                           errorDF, nullptr);
    if (s.IsError()) ThrowLibraryError(s);
    return run;
}

// The formula text of the model term with empty cells that the design
// found, "" for a complete design. The design numbers its effects by the
// runs of parameters of one term, the intercept's included.
std::string IncompleteTerm(const MCLiteDesignMatrix& design, const FittedModel& m,
                           const ModelSpec& spec) {
    const int incomplete = design.GetIncompleteEffectIndex();
    if (incomplete < 0) return "";
    const std::vector<MCRegrParameter>& params = m.fpStats->GetParameters();
    int run = -1;
    for (int k = 0; k < m.fNBasic; ++k) {
        const int e = params[static_cast<std::size_t>(k)].GetEffectIndex();
        if (k == 0 || e != params[static_cast<std::size_t>(k) - 1].GetEffectIndex()) ++run;
        if (run == incomplete)
            return e >= 0 && static_cast<std::size_t>(e) < spec.GetEffectTexts().size()
                       ? spec.GetEffectTexts()[static_cast<std::size_t>(e)]
                       : "";
    }
    return "";
}

class Labels {
public:
    explicit Labels(const ModelSpec& spec) : fSpec(spec) {}
    const std::string& Name(int position) const { return Var(position).fName; }
    const std::string& Level(int position, int level) const {
        return Var(position).fvCategories[static_cast<std::size_t>(level)];
    }
    std::size_t NLevels(int position) const { return Var(position).fvCategories.size(); }
    FixedLevels Fixed(const MCMarginals::FixedLevels& fixed) const {
        FixedLevels out;
        for (const auto& [f, level] : fixed) out.emplace_back(Name(f), Level(f, level));
        return out;
    }

private:
    const ModelVariable& Var(int p) const {
        return fSpec.GetVariables()[static_cast<std::size_t>(p)];
    }
    const ModelSpec& fSpec;
};

// A mean's gradient in the parameters: on the probability scale its row
// times p (1 - p), which the rounding of its variance is judged by.
Estimability::Sparse Gradient(const Estimability::Sparse& row, double p, bool probability) {
    return probability ? Estimability::Plus({}, p * (1.0 - p), row) : row;
}

// The means of request s, with their rows of L (kept in sparse and rows for
// the comparisons). probability: the means are probabilities through the
// logit link of the rows.
void Means(MCMarginals& m, int s, const EmmeansRequest& r, const Labels& labels, bool chi,
           bool probability, const Estimability& estimability,
           std::vector<Estimability::Sparse>& sparse, RowOfCells& rows, EmmeansResult& result,
           EmmeansScale& scale) {
    MCEmmeansSpec out;
    MCRectMatrix L;
    std::vector<MCEmmeansStats> stats;
    const MCStatus st = m.GetEmmeansStats(s, out, L, stats);
    if (st.IsError()) ThrowLibraryError(st);
    rows.clear();
    sparse.clear();
    for (std::size_t k = 0; k < stats.size(); ++k) {
        const MCEmmeansStats& e = stats[k];
        EmmeansCell c;
        for (std::size_t i = 0; i < r.fvFactors.size() && i < e.GetCategories().size(); ++i)
            c.fvLevels.push_back(labels.Level(r.fvFactors[i], e.GetCategories()[i]));
        rows[e.GetCategories()] = static_cast<int>(k);
        sparse.push_back(Estimability::Row(L, static_cast<int>(k)));
        c.fDF = chi ? kMissing : HostValue(e.GetDF());
        if (estimability.Estimable(sparse.back())) {
            c.fMean = HostValue(e.GetMean());
            c.fStdError = HostValue(e.GetStandardError());
            c.fLower = HostValue(e.GetLower());
            c.fUpper = HostValue(e.GetUpper());
            if (!estimability.Precise(Gradient(sparse.back(), c.fMean, probability),
                                      c.fStdError * c.fStdError)) {
                c.fStdError = c.fLower = c.fUpper = kMissing;
                result.fbImprecise = true;
            }
        } else {
            result.fbNotEstimable = true;
        }
        scale.fvCells.push_back(std::move(c));
    }
    if (result.fvCovariatesAt.empty())
        for (const auto& [position, value] : out.GetCovariates())
            result.fvCovariatesAt.emplace_back(labels.Name(position), value);
}

// The row of the mean at `level` of the compare factor and the fixed
// levels of the others; -1 when there is none.
int RowOf(const EmmeansRequest& r, const RowOfCells& rows, const MCMarginals::FixedLevels& fixed,
          int level) {
    std::vector<int> key;
    for (int f : r.fvFactors) {
        int v = f == r.fCompare ? level : -1;
        for (const auto& [factor, l] : fixed)
            if (factor == f) v = l;
        key.push_back(v);
    }
    const auto at = rows.find(key);
    return at == rows.end() ? -1 : at->second;
}

void Pairs(MCMarginals& m, int s, int nTests, const EmmeansRequest& r, const Labels& labels,
           bool chi, bool probability, const Estimability& estimability,
           const std::vector<Estimability::Sparse>& sparse, const RowOfCells& rows,
           PollRelay& relay, EmmeansResult& result, EmmeansScale& scale) {
    const auto rowOf = [&](const MCMarginals::FixedLevels& fixed, int level) {
        return RowOf(r, rows, fixed, level);
    };
    MCMarginals::FixedLevels fixed, named;
    FixedLevels names;
    std::vector<int> compared;
    MCEmmeansStats e;
    for (int t = 0; t < nTests; ++t) {
        const int n = m.GetNPairwiseEmmeansTests(s, t);
        relay.StartTest(t, nTests, n);
        if (n > 0) scale.fvPairs.reserve(scale.fvPairs.size() + static_cast<std::size_t>(n));
        for (int q = 0; q < n; ++q) {
            // The library computes a test's pairs at its first: the copies
            // of the rest are the host's, and a large test has millions.
            if (q % 4096 == 4095) relay.Check();
            const MCStatus st = m.GetPairwiseEmmeansTests(s, t, q, fixed, compared, e);
            if (NothingToCompare(st)) break;
            if (st.IsError()) ThrowLibraryError(st);
            // A test's pairs share its fixed levels: named once.
            if (q == 0 || fixed != named) {
                names = labels.Fixed(fixed);
                named = fixed;
            }
            EmmeansPair p;
            p.fvFixed = names;
            p.fA = labels.Level(r.fCompare, compared.at(0));
            p.fB = labels.Level(r.fCompare, e.GetCategories().at(0));
            p.fEstimate = HostValue(e.GetMean());
            p.fStdError = HostValue(e.GetStandardError());
            p.fDF = chi ? kMissing : HostValue(e.GetDF());
            p.fStat = HostValue(e.GetTStatistics());
            p.fP = HostValue(e.GetSignificance());
            if (!StepDown(r.fAdjust)) {
                p.fLower = HostValue(e.GetLower());
                p.fUpper = HostValue(e.GetUpper());
            }
            const int a = rowOf(fixed, compared.at(0)), b = rowOf(fixed, e.GetCategories().at(0));
            if (a >= 0 && b >= 0) {
                const Estimability::Sparse d = Estimability::Difference(
                    sparse[static_cast<std::size_t>(a)], sparse[static_cast<std::size_t>(b)]);
                const auto mean = [&](int k) {
                    return scale.fvCells[static_cast<std::size_t>(k)].fMean;
                };
                if (!estimability.Estimable(d)) {
                    p.fEstimate = p.fStdError = p.fStat = p.fP = p.fLower = p.fUpper = kMissing;
                    result.fbNotEstimable = true;
                } else if (!estimability.Precise(
                               probability ? Estimability::Difference(
                                                 Gradient(sparse[static_cast<std::size_t>(a)],
                                                          mean(a), true),
                                                 Gradient(sparse[static_cast<std::size_t>(b)],
                                                          mean(b), true))
                                           : d,
                               p.fStdError * p.fStdError)) {
                    p.fStdError = p.fStat = p.fP = p.fLower = p.fUpper = kMissing;
                    result.fbImprecise = true;
                }
            }
            scale.fvPairs.push_back(std::move(p));
        }
    }
}

// original: the means are on the response scale (probabilities), where the
// library's tested rows are contrasts of the means rather than functions of
// the parameters.
void Contrasts(MCMarginals& m, int s, int nTests, const EmmeansRequest& r, const Labels& labels,
               bool chi, bool original, const Estimability& estimability,
               const std::vector<Estimability::Sparse>& sparse, const RowOfCells& rows,
               PollRelay& relay, EmmeansResult& result, EmmeansScale& scale) {
    for (int t = 0; t < nTests; ++t) {
        relay.StartTest(t, nTests, 0.0);
        relay.Check();
        MCMarginals::FixedLevels fixed;
        std::vector<int> compared;
        MCRectMatrix tested;
        std::vector<MCTestStats> indiv;
        MCTestStats overall;
        const MCStatus st = m.GetEmmeansTests(s, t, fixed, compared, tested, indiv, overall);
        if (NothingToCompare(st)) continue;
        if (st.IsError()) ThrowLibraryError(st);
        std::sort(compared.begin(), compared.end());
        const MCRectMatrix C = Coefficients(r, compared);
        std::vector<std::string> texts;
        for (int level : compared) texts.push_back(labels.Level(r.fCompare, level));
        std::vector<std::string> names = RowNames(r, texts);
        ContrastTest test;
        test.fvFixed = labels.Fixed(fixed);
        bool all = true;  // every row estimable
        for (std::size_t row = 0; row < indiv.size(); ++row) {
            ContrastRow c;
            const int i = static_cast<int>(row);
            if (r.fContrast == MCConst::CONTRAST_SIMPLE) {
                int plus = 0, minus = 0;
                for (int j = 0; j < C.GetNCols(); ++j) {
                    if (C.GetElem(i, j) > 0) plus = j;
                    if (C.GetElem(i, j) < 0) minus = j;
                }
                c.fName = texts[static_cast<std::size_t>(plus)] + " - " +
                          texts[static_cast<std::size_t>(minus)];
            } else if (row < names.size()) {
                c.fName = names[row];
            }
            c.fvCoefficients.assign(labels.NLevels(r.fCompare), 0.0);
            for (int j = 0; j < C.GetNCols(); ++j)
                c.fvCoefficients[static_cast<std::size_t>(compared[static_cast<std::size_t>(j)])] =
                    C.GetElem(i, j);
            const MCTestStats& x = indiv[row];
            c.fEstimate = HostValue(x.GetContrastEstimate());
            c.fStdError = HostValue(x.GetStandardError());
            c.fDF = chi ? kMissing : HostValue(x.GetDF2());
            c.fStat = HostValue(x.GetWald());
            c.fP = HostValue(x.GetSig());
            c.fPAdjusted = HostValue(x.GetAdjSig());
            // The row as a function of the parameters, from the means' rows:
            // on the response scale every mean it takes must be determined.
            bool estimable = true, known = true;
            Estimability::Sparse coefficients, gradient;
            for (int j = 0; j < C.GetNCols() && known; ++j) {
                if (C.GetElem(i, j) == 0.0) continue;
                const int k = RowOf(r, rows, fixed, compared[static_cast<std::size_t>(j)]);
                if (k < 0) {
                    known = false;
                    break;
                }
                const Estimability::Sparse& mean = sparse[static_cast<std::size_t>(k)];
                if (original && !estimability.Estimable(mean)) estimable = false;
                coefficients = Estimability::Plus(coefficients, C.GetElem(i, j), mean);
                if (original)
                    gradient = Estimability::Plus(
                        gradient, C.GetElem(i, j),
                        Gradient(mean, scale.fvCells[static_cast<std::size_t>(k)].fMean, true));
            }
            if (known && estimable) estimable = estimability.Estimable(coefficients);
            if (!estimable) {
                c.fEstimate = c.fStdError = c.fStat = c.fP = c.fPAdjusted = kMissing;
                result.fbNotEstimable = true;
                all = false;
            } else if (known && !estimability.Precise(original ? gradient : coefficients,
                                                      c.fStdError * c.fStdError)) {
                c.fStdError = c.fStat = c.fP = c.fPAdjusted = kMissing;
                result.fbImprecise = true;
                all = false;
            }
            test.fvRows.push_back(std::move(c));
        }
        if (all) {
            test.fStat = HostValue(overall.GetWald());
            test.fDF1 = HostValue(overall.GetDF());
            test.fDF2 = chi ? kMissing : HostValue(overall.GetDF2());
            test.fP = HostValue(overall.GetSig());
        }
        scale.fvTests.push_back(std::move(test));
    }
}

}  // namespace

std::string EmmeansProgress::Text() const {
    std::string text = "marginal means: term " + std::to_string(fTerm + 1) + " of " +
                       std::to_string(fNTerms) + " (" + fTermName + ")";
    if (fTest >= 0)
        text += ", comparisons " + std::to_string(fTest + 1) + " of " + std::to_string(fNTests) +
                " (" + Format("%.0f", 100.0 * fShare) + "%)";
    return text;
}

std::vector<std::string> NotEstimableWarnings(const std::vector<EmmeansResult>& results) {
    std::vector<std::string> warnings;
    for (const EmmeansResult& r : results)
        if (r.fbNotEstimable)
            warnings.push_back("warning: marginal means of '" + r.fTerm +
                               "' that the data do not determine are left empty, with the "
                               "comparisons that involve them: a term is aliased with one "
                               "that does not contain it");
    for (const EmmeansResult& r : results)
        if (r.fbImprecise)
            warnings.push_back("warning: standard errors of marginal means of '" + r.fTerm +
                               "' or of their comparisons are left empty, with their intervals "
                               "and tests: rounding takes their digits, as with a covariate far "
                               "from zero (subtract a value near its mean from it)");
    return warnings;
}

std::vector<EmmeansResult> EstimateMarginalMeans(const FittedModel& model, const UsedData& used,
                                                 const std::vector<EmmeansRequest>& requests,
                                                 const EmmeansControl& control) {
    PollRelay relay(control);
    const ModelSpec& spec = *model.fpSpec;
    const Labels labels(spec);
    std::vector<EmmeansResult> results(requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const EmmeansRequest& r = requests[i];
        EmmeansResult& out = results[i];
        out.fTerm = r.fTerm;
        for (int f : r.fvFactors) out.fvFactors.push_back(labels.Name(f));
        out.fbPairs = r.fbPairs;
        out.fNPairs = r.fNPairs;
        out.fAdjust = AdjustName(r.fAdjust);
        out.fbChiSquare = model.fbLogistic;
        if (r.fCompare < 0) continue;  // the means only
        out.fCompare = labels.Name(r.fCompare);
        out.fvCompareLevels =
            spec.GetVariables()[static_cast<std::size_t>(r.fCompare)].fvCategories;
        out.fContrast = ContrastName(r.fContrast);
        if (r.fContrast == MCConst::CONTRAST_SIMPLE)
            out.fReference = out.fvCompareLevels[static_cast<std::size_t>(r.fReference)];
        if (r.fContrast == MCConst::CONTRAST_POLYNOMIAL) out.fvMetric = r.fvMetric;
        if (r.fContrast != MCConst::CONTRAST_PAIRWISE) {
            std::vector<int> all;
            for (std::size_t k = 0; k < out.fvCompareLevels.size(); ++k)
                all.push_back(static_cast<int>(k));
            const MCRectMatrix C = Coefficients(r, all);
            for (int row = 0; row < C.GetNRows(); ++row) {
                std::vector<double> c;
                for (int j = 0; j < C.GetNCols(); ++j) c.push_back(C.GetElem(row, j));
                out.fvContrastCoefficients.push_back(std::move(c));
            }
        }
    }

    // One pass of the library per scale: the model's means, or each logit's,
    // and for a binary model the probabilities through the logit link.
    struct Scale {
        int fBlock;
        MCConst::MCEmmScaleType fType;
        MCConst::LinkType fLink;
        std::string fName;
        std::string fCategory;
    };
    std::vector<Scale> scales;
    if (!model.fbLogistic) {
        scales.push_back({0, MCConst::EMM_SCALE_TRANSFORMED, MCConst::LINK_IDENTITY, "mean", ""});
    } else {
        const ModelVariable& dep = spec.GetVariables().front();
        const std::size_t nLogits = model.fvModelCategories.size() - 1;
        for (std::size_t k = 0; k < nLogits; ++k)
            scales.push_back(
                {static_cast<int>(k), MCConst::EMM_SCALE_TRANSFORMED, MCConst::LINK_LOGIT, "logit",
                 dep.fvCategories[static_cast<std::size_t>(model.fvModelCategories[k])]});
        if (nLogits == 1)
            scales.push_back({0, MCConst::EMM_SCALE_ORIGINAL, MCConst::LINK_LOGIT, "probability",
                              scales.front().fCategory});
    }
    // The aliasing relations are the model's, the same on every scale.
    Estimability estimability(model);
    for (const Scale& sc : scales) {
        std::unique_ptr<Run> run =
            MakeRun(model, used, requests, sc.fBlock, sc.fType, sc.fLink, relay);
        MCMarginals& m = *run->fpMarginals;
        // On the probability scale the variances are judged by the means'
        // gradients, the rows times p (1 - p).
        const bool probability = sc.fType == MCConst::EMM_SCALE_ORIGINAL;
        estimability.SetCovariance(run->fpCovariance);
        const std::string incomplete = IncompleteTerm(*run->fpDesign, model, spec);
        if (!incomplete.empty())
            for (EmmeansResult& out : results) out.fIncompleteTerm = incomplete;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const int s = static_cast<int>(i);
            const EmmeansRequest& r = requests[i];
            relay.StartTerm(i, requests.size(), r.fTerm);
            EmmeansScale scale;
            scale.fScale = sc.fName;
            scale.fCategory = sc.fCategory;
            std::vector<Estimability::Sparse> sparse;
            RowOfCells rows;
            Means(m, s, r, labels, model.fbLogistic, probability, estimability, sparse, rows,
                  results[i], scale);
            MCStatus st;
            const int nTests = m.GetNEmmeansTests(s, st);
            if (nTests < 0) ThrowLibraryError(st);
            if (r.fbPairs)
                Pairs(m, s, nTests, r, labels, model.fbLogistic, probability, estimability, sparse,
                      rows, relay, results[i], scale);
            if (r.fContrast != MCConst::CONTRAST_PAIRWISE)
                Contrasts(m, s, nTests, r, labels, model.fbLogistic,
                          sc.fType == MCConst::EMM_SCALE_ORIGINAL, estimability, sparse, rows,
                          relay, results[i], scale);
            results[i].fvScales.push_back(std::move(scale));
        }
    }
    return results;
}

}  // namespace mchost
