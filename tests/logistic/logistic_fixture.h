#pragma once
// Shared by the multinomial logistic tests: a model by record positions,
// fitted through the factory and the component interface.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "companion/MCMemoryRecordIter.h"
#include "components/MCLogComponent.h"
#include "components/MCRegFactory.h"
#include "logistic/MCLogOutputStats.h"
#include "settings/MCLogRegSettings.h"
#include "settings/MCModelEffect.h"
#include "support/golden.h"

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

inline Fit FitModel(const MCLogRegSettings& settings, MCCommon_850::MultiPassRecordIter& iter) {
    Fit f;
    MCLogRegSettings s = settings;
    MCMath_850::MCRegFactory factory;
    f.component.reset(factory.CreateRegAlgorithm(s));
    if (!f.component) {
        f.status = factory.GetStatus();
        return f;
    }
    f.status = f.component->BuildModel(iter);
    if (!f.status.IsError()) {
        const MCStatus out = f.component->GetOutputStats(f.stats);
        if (out.IsError()) f.status = out;
    }
    return f;
}

inline Fit FitModel(const MCLogRegSettings& settings, const std::vector<Record>& records) {
    MCMemoryRecordIter iter(records);
    return FitModel(settings, iter);
}

inline Fit FitModel(const Model& m, const std::vector<Record>& records) {
    return FitModel(m.Settings(), records);
}

// The records of a golden case, one per row of its data.
inline std::vector<Record> Records(const golden::Case& c) {
    std::vector<Record> records;
    for (const std::vector<double>& row : c.data) records.emplace_back(row);
    return records;
}

// The model tools/reference/logistic_golden.R fits to a case of
// logistic_golden.txt, whose records hold y A B x1 x2 w.
inline Model GoldenModel(const std::string& name) {
    Model m;
    if (name == "freq_factors") {
        m.nCategories = 3;
        m.factors = {{1, 3}, {2, 2}};
        m.terms = {{{1}, {}}, {{2}, {}}};
        m.freqWeight = 5;
    } else if (name == "factors_covariates" || name == "reference_first") {
        m.nCategories = 4;
        m.factors = {{1, 3}};
        m.covariates = {3, 4};
        m.terms = {{{1}, {}}, {{}, {3}}, {{}, {4}}};
        if (name == "factors_covariates")
            m.terms.push_back({{1}, {3}});
        else
            m.reference = -2;
    } else if (name == "binary") {
        m.nCategories = 2;
        m.factors = {{1, 4}};
        m.covariates = {3};
        m.terms = {{{1}, {}}, {{}, {3}}};
    } else {
        ADD_FAILURE() << "no golden model " << name;
    }
    return m;
}

}  // namespace logtest
