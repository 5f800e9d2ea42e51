#pragma once
// Shared by the general-linear-model tests: describe a model by record
// positions, fit it through the public component interface, read results.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "companion/MCMV.h"
#include "companion/MCMemoryRecordIter.h"
#include "components/MCRegFactory.h"
#include "glm/MCGLMOutputStats.h"
#include "settings/MCModelEffect.h"
#include "settings/MCRegSettings.h"

namespace glmtest {

using MCCommon_850::MCMemoryRecordIter;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;
using MCMath_850::IMCRegComponent;
using MCMath_850::IMCRegOutputStats;
using MCMath_850::MCModelEffect;
using MCMath_850::MCRegSettings;

// A term: factors (record positions, each optionally nested: the later
// factors of the list enclose the earlier ones when nested is set) and
// covariates (record positions, repeated for powers).
struct Term {
    std::vector<int> factors;
    std::vector<int> covariates;
    bool nested = false;  // factors[1..] nest factors[0..i-1]: A(B(C)) = {A,B,C}
};

struct Model {
    int dependent = 0;
    std::vector<std::pair<int, int>> factors;  // position, categories
    std::vector<int> covariates;
    std::vector<Term> terms;
    bool intercept = true;
    int freqWeight = -1;
    int regrWeight = -1;
    double tolerance = 1e-12;

    MCRegSettings Settings() const {
        MCRegSettings s;
        EXPECT_TRUE(s.SetDependent(dependent));
        for (auto [pos, k] : factors) EXPECT_GE(s.AddFactor(pos, k), 0);
        for (int c : covariates) EXPECT_GE(s.AddCovariate(c), 0);
        if (freqWeight >= 0) {
            EXPECT_TRUE(s.SetFrequencyWeightVar(freqWeight));
        }
        if (regrWeight >= 0) {
            EXPECT_TRUE(s.SetRegrWeightVar(regrWeight));
        }
        s.SetInterceptUse(intercept);
        s.SetTolerance(tolerance);
        std::vector<int> vars;
        for (auto [pos, k] : factors) vars.push_back(pos);
        for (int c : covariates) vars.push_back(c);
        const int nf = static_cast<int>(factors.size());
        const int nc = static_cast<int>(covariates.size());
        for (const Term& t : terms) {
            MCModelEffect e(nf, nc, &vars);
            for (std::size_t i = 0; i < t.factors.size(); ++i)
                EXPECT_TRUE(e.AddNewFactor(t.factors[i], t.nested && i > 0));
            for (int c : t.covariates) EXPECT_GE(e.AddCovariate(c), 0);
            EXPECT_TRUE(s.AddModelEffect(e));
        }
        return s;
    }
};

struct Fit {
    std::unique_ptr<IMCRegComponent> component;
    MCStatus status;
    IMCRegOutputStats* stats = nullptr;

    const MCMath_850::MCGLMOutputStats& Glm() const {
        return static_cast<const MCMath_850::MCGLMOutputStats&>(*stats);
    }
    double Estimate(int k) const { return stats->GetParamEstimates()[static_cast<std::size_t>(k)]; }
    bool Redundant(int k) const { return !stats->GetRedundancyIndicators().IsIn(k); }
    double Cov(int j, int k) const { return stats->GetCovarianceMatrix()->GetElem(j, k); }
    int NParams() const { return static_cast<int>(stats->GetParamEstimates().size()); }
};

// The settings must outlive the fit.
inline Fit FitModel(MCRegSettings& s, const std::vector<Record>& records) {
    Fit f;
    MCMath_850::MCRegFactory factory;
    f.component.reset(factory.CreateRegAlgorithm(s));
    if (!f.component) {
        f.status = factory.GetStatus();
        return f;
    }
    MCMemoryRecordIter iter(records);
    f.status = f.component->BuildModel(iter);
    if (!f.status.IsError()) f.status = f.component->GetOutputStats(f.stats);
    return f;
}

inline Fit FitModel(const Model& m, const std::vector<Record>& records) {
    MCRegSettings s = m.Settings();
    return FitModel(s, records);
}

}  // namespace glmtest
