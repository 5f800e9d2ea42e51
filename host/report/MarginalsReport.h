#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/analyses/Marginals.h"

namespace mchost {

// Per request: the means with their intervals, the pairwise comparisons
// and, when asked, the contrast with its row tests and overall test; for a
// logistic model one set per logit (and, for two categories, per
// probability).
std::string FormatMarginalsText(const std::vector<EmmeansResult>& results, double confidence,
                                const std::string& dependent);

// General linear model, one object per request:
//   {"term","compare","adjust","covariates_at":{name: value},
//    "means":[{"levels":{factor: level},"mean","se","df","lower","upper"}],
//    "pairwise":[{"levels_fixed":{...},"a","b","estimate","se","df","t","p","lower","upper"}],
//    "contrast":null or {"type","coefficients":[[...]],
//        "tests":[{"levels_fixed","rows":[{"name","coefficients","estimate","se","df","t",
//                                          "p","p_adjusted"}],"overall":{"F","df1","df2","p"}}]}}
// Logistic model: "term", "compare", "adjust", "covariates_at", then
// "logits":[{"category", "means", "pairwise", "contrast"}] and
// "probabilities": the same object for the probability of the
// non-reference category of a binary model, null otherwise. Their rows have
// no df, "chi_square" in place of "t", and the overall test is
// {"chi_square","df","p"}. Missing statistics are null.
nlohmann::ordered_json MarginalsJson(const std::vector<EmmeansResult>& results);

}  // namespace mchost
