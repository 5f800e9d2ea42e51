// End-to-end tests of the analyses after a fit on models with many
// parameters, against R (tools/reference/cli_analyses_large.R: anova,
// car::Anova type 3, emmeans): a factor of 150 levels crossed with one of
// 2, and 60 covariates beside a factor. Sizes at which a sweep or a
// projection that loses accuracy with the number of parameters shows.
#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/golden.h"

using namespace clitest;

TEST_F(Cli, TestsAndMarginalMeansOfManyParametersAgreeWithR) {
    const json cases = json::parse(golden::Text("cli_analyses_large_cases.json"));
    ASSERT_EQ(cases.size(), 2u);
    for (const json& c : cases) {
        SCOPED_TRACE(c["case"].get<std::string>());
        const json got = RunJson(CaseArgs("glm", c));
        const json& want = c["expected"];
        ASSERT_TRUE(got.contains("tests"));
        ExpectJsonNear(got["tests"], want["tests"], kR, "tests");

        ASSERT_TRUE(got.contains("emmeans"));
        ASSERT_EQ(got["emmeans"].size(), 1u);
        const json& emm = got["emmeans"][0];
        ExpectJsonNear(emm["covariates_at"], want["covariates_at"], kR, "covariates_at");
        const json& means = emm["means"];
        ASSERT_EQ(means.size(), want["means_count"].get<std::size_t>());
        // R's rows are of some levels only; the program's of every level,
        // found by their level texts.
        for (const json& w : want["means"]) {
            const auto hit = std::find_if(means.begin(), means.end(), [&](const json& m) {
                return m["levels"] == w["levels"];
            });
            ASSERT_NE(hit, means.end()) << w["levels"];
            ExpectJsonNear(*hit, w, kR, "means " + w["levels"].dump());
        }
    }
}
