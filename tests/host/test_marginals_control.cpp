// The marginal means under the host's control: a cancel stops them where it
// comes, as an interruption, and the progress names each test as it starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/analyses/EmmeansRequest.h"
#include "host/analyses/Marginals.h"
#include "host/base/HostError.h"
#include "host/fit/ModelFitter.h"
#include "host/fit/UsedData.h"
#include "support/host_fixtures.h"

using namespace mchost;

namespace {

TEST(Marginals, ACancelStopsTheMeansAtOnceAndProgressNamesEveryTest) {
    // 6 x 5 cells, B compared within each level of A: 30 means, then 6
    // tests of 5 * 4 ordered pairs.
    std::string csv = "y,A,B\n";
    for (int i = 0; i < 240; ++i)
        csv += std::to_string((i * 37) % 11 + 0.5 * (i % 6)) + ",a" + std::to_string(i % 6) + ",b" +
               std::to_string((i / 6) % 5) + "\n";
    const mchost_test::CsvModel m(csv, "y ~ A + B + A*B");
    const ModelSpec& spec = m.spec;
    ModelFitter fitter(spec, FitOptions());
    fitter.Fit(*m.records);
    const FittedModel model = fitter.GetFitted();
    const UsedData used = SummariseUsedData(model, *m.records, nullptr);
    EmmeansOptions options;
    options.fvTerms = {"A*B"};
    options.fvCompare = {"B"};
    options.fAdjust = "holm";
    const std::vector<EmmeansRequest> requests = ResolveEmmeans(spec, options);

    // Uncancelled: asked at least once per mean and per pair, and told of
    // the means and then of each test in turn.
    mchost_test::CancelAfter never;
    std::vector<int> tests;
    EmmeansControl control;
    control.fpCancel = &never;
    control.fOnProgress = [&](const EmmeansProgress& p) {
        EXPECT_EQ(p.fTermName, "A*B");
        EXPECT_EQ(p.fNTerms, 1u);
        EXPECT_GE(p.fShare, 0.0);
        EXPECT_LE(p.fShare, 1.0);
        if (tests.empty() || tests.back() != p.fTest) tests.push_back(p.fTest);
    };
    const std::vector<EmmeansResult> whole = EstimateMarginalMeans(model, used, requests, control);
    ASSERT_EQ(whole.size(), 1u);
    ASSERT_EQ(whole[0].fvScales.size(), 1u);
    EXPECT_EQ(whole[0].fvScales[0].fvCells.size(), 30u);
    EXPECT_EQ(whole[0].fvScales[0].fvPairs.size(), 6u * 20u);
    EXPECT_GE(never.fAsked.load(), 30 + 6 * 20);
    EXPECT_EQ(tests, (std::vector<int>{-1, 0, 1, 2, 3, 4, 5}));
    EmmeansProgress at;
    at.fNTerms = 1;
    at.fTermName = "A*B";
    at.fTest = 2;
    at.fNTests = 6;
    at.fShare = 0.25;
    EXPECT_EQ(at.Text(), "marginal means: term 1 of 1 (A*B), comparisons 3 of 6 (25%)");

    // A cancel among the means, at the first pair and amid the pairs of
    // the fourth test ends the estimation as an interruption, asking no
    // more once it has been told.
    for (const int at : {1, 10, 31, 95}) {
        SCOPED_TRACE(at);
        mchost_test::CancelAfter cancel(at - 1);
        EmmeansControl c;
        c.fpCancel = &cancel;
        EXPECT_EQ(
            mchost_test::ThrownBy([&] { EstimateMarginalMeans(model, used, requests, c); }).kind,
            HostError::kInterrupted);
        EXPECT_EQ(cancel.fAsked.load(), at);
    }
}

}  // namespace
