// Marginal means of a binary logistic fit, y ~ A + x1, against R's emmeans
// on glm(binomial) (tools/reference/logistic_golden.R, case "binary"): the
// means of A at the mean of x1 on the logit scale and, through the logit
// link, as probabilities with delta-method standard errors and
// back-transformed bounds; and the pairs of levels with Bonferroni's
// adjustment. Intervals use the normal distribution, as for any model fitted
// by maximum likelihood.
#include <cmath>
#include <memory>

#include "logistic_fixture.h"
#include "marginals/MCMarginals.h"
#include "support/golden.h"
#include "support/numeric.h"

using namespace logtest;
using namespace MCMath_850;

namespace {

const int kA = 1, kX = 3;

MCEmmeansSpec Spec(MCConst::MCEmmScaleType scale) {
    MCEmmeansSpec s;
    EXPECT_GE(s.AddFactor(kA), 0);
    EXPECT_GE(s.AddCompareFactor(kA), 0);
    s.SetContrastType(MCConst::CONTRAST_PAIRWISE);
    s.SetPAdjust(MCConst::PADJ_BONFERRONI);
    s.SetEmmScaleType(scale);
    return s;
}

}  // namespace

TEST(LogisticMarginals, MeansOnBothScalesAndPairsMatchEmmeans) {
    const golden::Entries entries = golden::ReadEntries("logistic_golden.txt");
    const golden::Case& g = entries.Get("binary");
    Model m = GoldenModel("binary");  // y ~ A + x1
    m.paramCriterion = 1e-10;
    Fit f = FitModel(m, Records(g));
    ASSERT_TRUE(f.status.IsOK()) << f.status.GetMessage();

    MCLogRegSettings settings = m.Settings();
    settings.SetTestType(MCConst::TEST_CHISQUARE);
    MCLiteDesignMatrix design({kA}, {}, {kX});
    for (const MCRegrParameter& p : f.stats->GetParameters())
        EXPECT_TRUE(design.AddRegrParameter(p));
    MCCancelInfo cancel;
    const double xmean = f.stats->GetMeanValues().at(0);
    EXPECT_TRUE(support::Near(xmean, g.Scalar("emm_x1_mean"), 1e-8, 1)) << "x1 mean";
    MCMarginals means(
        settings, {Spec(MCConst::EMM_SCALE_TRANSFORMED), Spec(MCConst::EMM_SCALE_ORIGINAL)}, design,
        f.stats->GetParamEstimates(), cancel, {xmean}, nullptr, MCConst::LINK_LOGIT, 0.0);
    ASSERT_TRUE(means
                    .SetEmmeansTesting(f.stats->GetCovarianceMatrix(),
                                       f.stats->GetRedundancyIndicators(), 1e9, nullptr)
                    .IsOK());

    const char* scales[] = {"emm_logit", "emm_prob"};
    for (int s = 0; s < 2; ++s) {
        MCEmmeansSpec out;
        MCRectMatrix L;
        std::vector<MCEmmeansStats> st;
        ASSERT_TRUE(means.GetEmmeansStats(s, out, L, st).IsOK());
        ASSERT_EQ(st.size(), 4u);
        const std::string n = scales[s];
        for (std::size_t r = 0; r < 4; ++r) {
            const std::string i = " " + std::to_string(r);
            EXPECT_TRUE(support::Near(st[r].GetMean(), g.At(n)[r], 1e-8, 1)) << n + i;
            EXPECT_TRUE(support::Near(st[r].GetStandardError(), g.At(n + "_se")[r], 1e-8, 1))
                << n + "_se" + i;
            EXPECT_TRUE(support::Near(st[r].GetLower(), g.At(n + "_lo")[r], 1e-8, 1))
                << n + "_lo" + i;
            EXPECT_TRUE(support::Near(st[r].GetUpper(), g.At(n + "_hi")[r], 1e-8, 1))
                << n + "_hi" + i;
        }
    }

    // emmeans lists 0-1, 0-2, 0-3, 1-2, 1-3, 2-3; ours are ordered pairs,
    // each level against every other in turn.
    ASSERT_EQ(means.GetNPairwiseEmmeansTests(0, 0), 12);
    const int ours[] = {0, 1, 2, 4, 5, 8};
    for (int r = 0; r < 6; ++r) {
        MCMarginals::FixedLevels fixed;
        std::vector<int> compared;
        MCEmmeansStats e;
        ASSERT_TRUE(means.GetPairwiseEmmeansTests(0, 0, ours[r], fixed, compared, e).IsOK());
        const std::string i = " " + std::to_string(r);
        EXPECT_TRUE(
            support::Near(e.GetMean(), g.At("emm_pairs")[static_cast<std::size_t>(r)], 1e-8, 1))
            << "pair" + i;
        EXPECT_TRUE(support::Near(e.GetStandardError(),
                                  g.At("emm_pairs_se")[static_cast<std::size_t>(r)], 1e-8, 1))
            << "se" + i;
        EXPECT_TRUE(support::Near(e.GetSignificance(),
                                  g.At("emm_pairs_p")[static_cast<std::size_t>(r)], 1e-8, 1))
            << "p" + i;
    }
}
