#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "host/analyses/EffectTests.h"

namespace mchost {

// One table per type asked for. A general linear model's has Source, Sum
// of squares, df, Mean square, F and Sig., with the corrected model and the
// intercept first, then the effects, then Error, Total and Corrected total;
// a logistic model's has Source, Wald chi-square, df and Sig.
std::string FormatEffectTestsText(const EffectTests& tests);

// General linear model:
//   {"type1":[ROW...] or null,"type3":[ROW...] or null,"corrected_model":ROW,
//    "error":{"df","ss","mean_square"}}
//   ROW = {"term","df","ss","mean_square","F","sig"}
// Logistic model: the same keys with ROW = {"term","df","chi_square","sig"}
// and no "error". Missing statistics are null.
nlohmann::ordered_json EffectTestsJson(const EffectTests& tests);

}  // namespace mchost
