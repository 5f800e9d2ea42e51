#include "settings/MCModelEffect.h"

#include <algorithm>

#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"

namespace MCMath_850 {

MCModelEffect::MCModelEffect(int nModelFactors, int nModelCovariates,
                             const std::vector<int>* varIndices) {
    Setup(nModelFactors, nModelCovariates, varIndices);
}

void MCModelEffect::Setup(int nModelFactors, int nModelCovariates,
                          const std::vector<int>* varIndices) {
    fNModelFactors = std::max(nModelFactors, 0);
    fNModelCovariates = std::max(nModelCovariates, 0);
    if (varIndices != nullptr)
        fvVarIndices = *varIndices;
    else
        fvVarIndices.clear();
    // Existing entries keep their meaning; only missing ones are added, with
    // the "absent" value of their kind.
    const std::size_t nf = static_cast<std::size_t>(fNModelFactors);
    fvMainVector.resize(nf, -1);
    fvMainVector.resize(nf + static_cast<std::size_t>(fNModelCovariates), 0);
}

void MCModelEffect::Reset() {
    fvMainVector.assign(static_cast<std::size_t>(fNModelFactors), -1);
    fvMainVector.resize(fvMainVector.size() + static_cast<std::size_t>(fNModelCovariates), 0);
    fNFactors = 0;
    fNCovariates = 0;
    fNLevels = 0;
    fbFactorsInParens = false;
}

int MCModelEffect::FindInVector(const std::vector<int>& list, int start, int count, int value) {
    if (start < 0) {
        count += start;
        start = 0;
    }
    const long long end =
        std::min(static_cast<long long>(start) + count, static_cast<long long>(list.size()));
    for (long long p = start; p < end; ++p)
        if (list[Ix(p)] == value) return static_cast<int>(p);
    return -1;
}

int MCModelEffect::FactorPosition(int var) const {
    const int p = FindInVector(fvVarIndices, 0, fNModelFactors, var);
    return p < static_cast<int>(fvMainVector.size()) ? p : -1;
}

int MCModelEffect::CovariatePosition(int var) const {
    const int p = FindInVector(fvVarIndices, fNModelFactors, fNModelCovariates, var);
    return p < static_cast<int>(fvMainVector.size()) ? p : -1;
}

bool MCModelEffect::AddNewFactor(int var, bool nested) {
    const int p = FactorPosition(var);
    if (p < 0 || fvMainVector[p] != -1) return false;
    if (nested) {
        for (int i = 0; i < fNModelFactors && i < static_cast<int>(fvMainVector.size()); ++i)
            if (fvMainVector[i] >= 0) ++fvMainVector[i];
        ++fNLevels;
    }
    fvMainVector[p] = 0;
    if (fNFactors == 0) fNLevels = 1;
    ++fNFactors;
    return true;
}

int MCModelEffect::AddCovariate(int var) {
    const int p = CovariatePosition(var);
    if (p < 0) return -1;
    if (++fvMainVector[p] == 1) ++fNCovariates;
    return fvMainVector[p];
}

int MCModelEffect::ContainsFactor(int var) const {
    const int p = FactorPosition(var);
    return p < 0 ? -1 : fvMainVector[p];
}

int MCModelEffect::GetCovariateMult(int var) const {
    const int p = CovariatePosition(var);
    return p < 0 ? -1 : fvMainVector[p];
}

std::vector<int> MCModelEffect::GetFactors() const {
    std::vector<int> out;
    for (int p = 0; p < fNModelFactors && p < static_cast<int>(fvMainVector.size()); ++p)
        if (fvMainVector[p] >= 0 && p < static_cast<int>(fvVarIndices.size()))
            out.push_back(fvVarIndices[p]);
    return out;
}

std::vector<int> MCModelEffect::GetFactorLevels() const {
    std::vector<int> out;
    for (int p = 0; p < fNModelFactors && p < static_cast<int>(fvMainVector.size()); ++p)
        if (fvMainVector[p] >= 0 && p < static_cast<int>(fvVarIndices.size()))
            out.push_back(fvMainVector[p]);
    return out;
}

std::vector<int> MCModelEffect::GetCovariates() const {
    std::vector<int> out;
    for (int p = fNModelFactors; p < static_cast<int>(fvMainVector.size()); ++p)
        if (fvMainVector[p] > 0 && p < static_cast<int>(fvVarIndices.size()))
            out.push_back(fvVarIndices[p]);
    return out;
}

std::vector<int> MCModelEffect::GetCovMultiplicities() const {
    std::vector<int> out;
    for (int p = fNModelFactors; p < static_cast<int>(fvMainVector.size()); ++p)
        if (fvMainVector[p] > 0 && p < static_cast<int>(fvVarIndices.size()))
            out.push_back(fvMainVector[p]);
    return out;
}

int MCModelEffect::GetNCovariateMult() const {
    int n = 0;
    for (int p = fNModelFactors; p < static_cast<int>(fvMainVector.size()); ++p)
        if (fvMainVector[p] > 0) n += fvMainVector[p];
    return n;
}

bool MCModelEffect::IsCovariateEffect(std::vector<int>& covs) const {
    covs.clear();
    if (fNFactors != 0 || fNCovariates == 0) return false;
    for (int p = fNModelFactors; p < static_cast<int>(fvMainVector.size()); ++p)
        if (p < static_cast<int>(fvVarIndices.size()))
            covs.insert(covs.end(), static_cast<std::size_t>(std::max(fvMainVector[p], 0)),
                        fvVarIndices[p]);
    return true;
}

bool MCModelEffect::IsContainedIn(const MCModelEffect& other) const {
    if (fNFactors >= other.fNFactors || fNCovariates != other.fNCovariates) return false;
    if (fNModelFactors != other.fNModelFactors || fNModelCovariates != other.fNModelCovariates)
        return false;
    if (fvVarIndices != other.fvVarIndices || fvMainVector.size() != other.fvMainVector.size())
        return false;
    for (std::size_t p = 0; p < fvMainVector.size(); ++p) {
        if (static_cast<int>(p) < fNModelFactors) {
            if (fvMainVector[p] >= 0 && other.fvMainVector[p] < 0) return false;
        } else if (fvMainVector[p] != other.fvMainVector[p]) {
            return false;
        }
    }
    return true;
}

bool MCModelEffect::operator==(const MCModelEffect& o) const {
    return fNModelFactors == o.fNModelFactors && fNModelCovariates == o.fNModelCovariates &&
           fNFactors == o.fNFactors && fNCovariates == o.fNCovariates && fNLevels == o.fNLevels &&
           fvVarIndices == o.fvVarIndices && fbFactorsInParens == o.fbFactorsInParens &&
           fvMainVector == o.fvMainVector;
}

void MCModelEffect::Recount() {
    fNFactors = 0;
    fNCovariates = 0;
    for (int p = 0; p < static_cast<int>(fvMainVector.size()); ++p) {
        if (p < fNModelFactors)
            fNFactors += fvMainVector[p] >= 0 ? 1 : 0;
        else
            fNCovariates += fvMainVector[p] > 0 ? 1 : 0;
    }
    if (fNFactors == 0) fNLevels = 0;
}

bool MCModelEffect::ApplyMask(const std::vector<bool>& keep) {
    bool unused = true;
    for (int p = static_cast<int>(fvMainVector.size()) - 1; p >= 0; --p) {
        if (p >= static_cast<int>(keep.size()) || keep[Ix(p)]) continue;
        if (p < fNModelFactors) {
            if (fvMainVector[p] != -1) unused = false;
            --fNModelFactors;
        } else {
            if (fvMainVector[p] != 0) unused = false;
            --fNModelCovariates;
        }
        fvMainVector.erase(fvMainVector.begin() + p);
    }
    // Only a removed used position can change what the term holds; the
    // counts are recounted then so that the invariants keep holding.
    if (!unused) Recount();
    return unused;
}

std::vector<bool> MCModelEffect::CheckVariableUse(const std::vector<MCModelEffect>& effects) {
    if (effects.empty()) return {};
    const std::size_t n = static_cast<std::size_t>(effects.front().fNModelFactors) +
                          static_cast<std::size_t>(effects.front().fNModelCovariates);
    std::vector<bool> used(n, false);
    for (const MCModelEffect& e : effects) {
        const std::size_t m = std::min(n, e.fvMainVector.size());
        for (std::size_t p = 0; p < m; ++p) {
            const bool isFactor = static_cast<int>(p) < e.fNModelFactors;
            if (isFactor ? e.fvMainVector[p] >= 0 : e.fvMainVector[p] > 0) used[p] = true;
        }
    }
    return used;
}

void MCModelEffect::GetUsedVariables(const std::vector<MCModelEffect>& effects,
                                     std::vector<int>& factors, std::vector<int>& covariates) {
    factors.clear();
    covariates.clear();
    auto addOnce = [](std::vector<int>& list, int v) {
        if (std::find(list.begin(), list.end(), v) == list.end()) list.push_back(v);
    };
    for (const MCModelEffect& e : effects) {
        for (int v : e.GetFactors()) addOnce(factors, v);
        for (int v : e.GetCovariates()) addOnce(covariates, v);
    }
}

void MCModelEffect::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCModelEffect display start");
    DisplayIV("Variable indices", fvVarIndices);
    DisplayI("Factors in model", fNModelFactors);
    DisplayI("Factors in effect", fNFactors);
    DisplayI("Nesting levels", fNLevels);
    DisplayI("Covariates in model", fNModelCovariates);
    DisplayB("Factor after Covariates in ()?", fbFactorsInParens);
    DisplayI("Covariates in effect", fNCovariates);
    DisplayIV("The main vector", fvMainVector);
    DisplayIV("Variable indices of the effect in the settings", fvVarsInSetting);
    DisplayText("MCModelEffect display end");
}

}  // namespace MCMath_850
