#pragma once
#include <string>
#include <vector>

#include "host/model/ModelSpec.h"
#include "settings/MCConst.h"

namespace mchost {

// How the command line asks for estimated marginal means (--emmeans and
// the options that go with it).
class EmmeansOptions {
public:
    std::vector<std::string> fvTerms;
    // None (each term compares its last factor), one for every term, or one
    // per term in order. "none" (unless a factor of the term has that name)
    // asks for the means only.
    std::vector<std::string> fvCompare;
    std::string fAdjust = "none";
    // Empty: pairwise comparisons only.
    std::string fContrast;
    // The simple contrast's reference: "first", "last" or a level's text;
    // empty means last.
    std::string fContrastReference;
    // The polynomial contrast's level metrics: none (1, 2, ..., k), one for
    // every term, or one per term in order.
    std::vector<std::vector<double>> fvMetric;

    bool Any() const { return !fvTerms.empty(); }
    // Throws HostError (usage) for what is wrong without looking at the
    // data: an unknown adjustment or contrast, options that need another
    // option, more compare factors than terms, a metric that does not
    // increase.
    void Check() const;
    MCConst::MCPAdjustMethod AdjustMethod() const;
    MCConst::MCContrastType ContrastType() const;  // pairwise without --contrast
};

// One request resolved against the model: record positions of the term's
// factors (in the order the term is written) and of the compare factor.
class EmmeansRequest {
public:
    std::string fTerm;  // as the model writes it ("wool*tension")
    std::vector<int> fvFactors;
    int fCompare = -1;  // -1: the means only
    // False when the pairwise comparisons are left out: the compare factor
    // was not named and they would be more than kDefaultPairLimit.
    bool fbPairs = true;
    // The unordered pairs that comparing within every combination of the
    // other factors would give.
    double fNPairs = 0.0;
    MCConst::MCContrastType fContrast = MCConst::CONTRAST_PAIRWISE;
    MCConst::MCPAdjustMethod fAdjust = MCConst::PADJ_LSD;
    int fReference = -1;  // level index of the simple contrast's reference
    std::vector<double> fvMetric;
};

// Beyond this many unordered pairs (of all combinations of the other
// factors together) the comparisons are made only when --compare names the
// factor: a term of thousands of levels has millions of pairs that nobody
// reads, while its means are asked for more often.
constexpr double kDefaultPairLimit = 100000.0;

// Throws HostError (usage) naming the problem: a term that is not a term of
// the model made of factors only, a compare factor not in its term or (when
// named with --compare) with one level, a reference that is not a level, a
// metric whose length differs from the number of levels, a contrast with
// --compare none. A term asked for twice is resolved once; one whose
// default compare factor has one level is left out, and default comparisons
// beyond kDefaultPairLimit are, with a warning added to warnings.
std::vector<EmmeansRequest> ResolveEmmeans(const ModelSpec& spec, const EmmeansOptions& options,
                                           std::vector<std::string>* warnings = nullptr);

}  // namespace mchost
