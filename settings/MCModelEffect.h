#pragma once
#include <vector>

#include "companion/MCExport.h"

namespace MCMath_850 {

// One term of a model: the intercept, a main effect, an interaction, a
// nested term, a covariate term (x, x*x, ...) or a factor-by-covariate term.
//
// A term is expressed against the settings' model variables, factors first
// (positions 0 .. model factors - 1), then covariates. The main vector has one
// entry per model variable: for a factor position -1 when the factor is
// absent, otherwise its nesting level (0 = outermost); for a covariate
// position its multiplicity in the term (0 when absent).
//
// Nesting: A*B has A and B at level 0 and one nesting level; A(B) has B at
// 0, A at 1 and two levels; A*B(C) has C at 0, A and B at 1 and two levels.
class MCREG_API MCModelEffect {
public:
    MCModelEffect() = default;
    MCModelEffect(int nModelFactors, int nModelCovariates, const std::vector<int>* varIndices);
    MCModelEffect(const MCModelEffect&) = default;
    MCModelEffect& operator=(const MCModelEffect&) = default;
    MCModelEffect(MCModelEffect&&) noexcept = default;
    MCModelEffect& operator=(MCModelEffect&&) noexcept = default;

    // Sets the model counts and the variable list and sizes the main vector
    // (new factor entries -1, new covariate entries 0); existing entries and
    // the term's counts stay, so it is meant to follow Reset or construction.
    void Setup(int nModelFactors, int nModelCovariates, const std::vector<int>* varIndices);
    // Empties the term; the variable list and the model counts stay.
    void Reset();

    // Adds the factor with model variable index var at level 0. With nested,
    // every factor already in the term moves one level deeper, so A(B) is
    // AddNewFactor(A, false) then AddNewFactor(B, true). False when var is
    // not a model factor or already in the term.
    bool AddNewFactor(int var, bool nested);
    // Raises the covariate's multiplicity by one and returns it; -1 when var
    // is not a model covariate.
    int AddCovariate(int var);

    // The factor's nesting level; -1 when absent or not a model factor.
    int ContainsFactor(int var) const;
    // The covariate's multiplicity (0 when absent); -1 when not a model
    // covariate.
    int GetCovariateMult(int var) const;

    // First p in [start, start + count) with p < list size and list[p] ==
    // value; -1 when none.
    static int FindInVector(const std::vector<int>& list, int start, int count, int value);

    // Variable indices of the term's factors (covariates), in variable-list
    // order, and their levels (multiplicities) in the same order.
    std::vector<int> GetFactors() const;
    std::vector<int> GetFactorLevels() const;
    std::vector<int> GetCovariates() const;
    std::vector<int> GetCovMultiplicities() const;

    // True for a term with covariates and no factor; covs then receives each
    // covariate repeated by its multiplicity (cleared in any case).
    bool IsCovariateEffect(std::vector<int>& covs) const;
    // Containment of the Type III tests: fewer factors than other, all of
    // them in other (levels not compared), the same covariates with the same
    // multiplicities, the same model and variable list.
    bool IsContainedIn(const MCModelEffect& other) const;
    bool IsIntercept() const { return fNFactors == 0 && fNCovariates == 0; }

    // Removes the main-vector entries whose keep bit is false (entries past
    // the end of keep are kept) and lowers the model counts; the variable
    // list is not shortened (the caller shortens its own by the same mask).
    // Returns true when no removed position was used by the term. The
    // term's factor and covariate counts are recounted from what is left.
    bool ApplyMask(const std::vector<bool>& keep);

    // Bit i true when any term uses model variable i; sized from the first
    // term (empty for an empty list).
    static std::vector<bool> CheckVariableUse(const std::vector<MCModelEffect>& effects);
    // The variable indices of all factors and covariates used, each once, in
    // order of first use.
    static void GetUsedVariables(const std::vector<MCModelEffect>& effects,
                                 std::vector<int>& factors, std::vector<int>& covariates);

    // Equal counts, variable lists, parentheses flags and main vectors (the
    // settings' variable indices of the effect are not compared).
    bool operator==(const MCModelEffect& o) const;
    bool operator!=(const MCModelEffect& o) const { return !(*this == o); }

    const std::vector<int>& GetVarIndices() const { return fvVarIndices; }
    const std::vector<int>& GetModelEffect() const { return fvMainVector; }
    int GetNModelFactors() const { return fNModelFactors; }
    int GetNModelCovariates() const { return fNModelCovariates; }
    int GetNFactors() const { return fNFactors; }
    int GetNCovariates() const { return fNCovariates; }
    int GetNLevels() const { return fNLevels; }
    // Sum of the covariate multiplicities.
    int GetNCovariateMult() const;

    // Written as covariate(factor ...): only changes how names are written.
    void SetFactorsInParens(bool on) { fbFactorsInParens = on; }
    bool GetFactorsInParens() const { return fbFactorsInParens; }

    // An opaque list of the host's, used to refer to the term's variables
    // in output documents.
    void SetVarsIndicesForTheEffectInSetting(const std::vector<int>& indices) {
        fvVarsInSetting = indices;
    }
    const std::vector<int>& GetVarsIndicesForTheEffectInSetting() const { return fvVarsInSetting; }

    void Display() const;

private:
    int FactorPosition(int var) const;
    int CovariatePosition(int var) const;
    void Recount();

    std::vector<int> fvVarIndices;
    std::vector<int> fvMainVector;
    int fNModelFactors = 0;
    int fNModelCovariates = 0;
    int fNFactors = 0;
    int fNCovariates = 0;
    int fNLevels = 0;
    bool fbFactorsInParens = false;
    std::vector<int> fvVarsInSetting;
};

}  // namespace MCMath_850
