#pragma once
// Shared by the multinomial logistic tests: a model by record positions,
// fitted through the factory and the component interface.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "companion/MCMemoryRecordIter.h"
#include "components/MCLogComponent.h"
#include "components/MCRegFactory.h"
#include "logistic/MCLogOutputStats.h"
#include "settings/MCLogRegSettings.h"
#include "settings/MCModelEffect.h"

namespace logtest {

using MCCommon_850::MCMemoryRecordIter;
using MCCommon_850::MCStatus;
using MCCommon_850::Record;
using MCMath_850::IMCRegComponent;
using MCMath_850::IMCRegOutputStats;
using MCMath_850::MCLogComponent;
using MCMath_850::MCLogRegSettings;
using MCMath_850::MCModelEffect;

// A term: factors and covariates by record position (a covariate repeated
// for a power).
struct Term {
    std::vector<int> factors;
    std::vector<int> covariates;
};

struct Model {
    int dependent = 0;
    int nCategories = 2;
    int reference = -1;
    std::vector<std::pair<int, int>> factors;  // position, categories
    std::vector<int> covariates;
    std::vector<Term> terms;
    bool intercept = true;
    int freqWeight = -1;
    bool patterns = false;
    int maxIterations = 100;
    double paramCriterion = 1e-6;

    MCLogRegSettings Settings() const {
        MCLogRegSettings s;
        EXPECT_TRUE(s.SetDependent(dependent));
        EXPECT_TRUE(s.SetDependentRefCat(reference, nCategories));
        for (auto [pos, k] : factors) EXPECT_GE(s.AddFactor(pos, k), 0);
        for (int c : covariates) EXPECT_GE(s.AddCovariate(c), 0);
        if (freqWeight >= 0) {
            EXPECT_TRUE(s.SetFrequencyWeightVar(freqWeight));
        }
        s.SetInterceptUse(intercept);
        s.SetUsePatternTabulator(patterns);
        EXPECT_TRUE(s.SetMaxIterations(maxIterations));
        EXPECT_TRUE(s.SetParamEstConCriterion(paramCriterion));
        std::vector<int> vars;
        for (auto [pos, k] : factors) vars.push_back(pos);
        for (int c : covariates) vars.push_back(c);
        const int nf = static_cast<int>(factors.size());
        const int nc = static_cast<int>(covariates.size());
        for (const Term& t : terms) {
            MCModelEffect e(nf, nc, &vars);
            for (int f : t.factors) EXPECT_TRUE(e.AddNewFactor(f, false));
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

    // The logistic results (stats must be set).
    const MCMath_850::MCLogOutputStats& Log() const {
        return static_cast<const MCMath_850::MCLogOutputStats&>(*stats);
    }
    const std::vector<int>& Categories() const { return Log().GetDependCategories(); }
    int Convergence() const { return Log().GetConvergenceCode(); }
    double Estimate(int k) const { return stats->GetParamEstimates()[static_cast<std::size_t>(k)]; }
    double Cov(int j, int k) const { return stats->GetCovarianceMatrix()->GetElem(j, k); }
    int NParams() const { return static_cast<int>(stats->GetParamEstimates().size()); }
};

inline Fit FitModel(const MCLogRegSettings& settings, const std::vector<Record>& records) {
    Fit f;
    MCLogRegSettings s = settings;
    MCMath_850::MCRegFactory factory;
    f.component.reset(factory.CreateRegAlgorithm(s));
    if (!f.component) {
        f.status = factory.GetStatus();
        return f;
    }
    MCMemoryRecordIter iter(records);
    f.status = f.component->BuildModel(iter);
    if (!f.status.IsError()) {
        const MCStatus out = f.component->GetOutputStats(f.stats);
        if (out.IsError()) f.status = out;
    }
    return f;
}

inline Fit FitModel(const Model& m, const std::vector<Record>& records) {
    return FitModel(m.Settings(), records);
}

}  // namespace logtest
