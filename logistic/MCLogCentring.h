#pragma once
#include <cstddef>
#include <map>
#include <utility>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCSymMatrix.h"
#include "design/MCColumnCentring.h"
#include "design/MCProductTerms.h"
#include "design/MCRegrParameter.h"

namespace MCMath_850 {

// The columns the logistic fit works on, and the exact map from its
// estimates back to the model's.
//
// The information matrix is summed in doubles: a covariate far from zero
// beside its spread would lose its variation there, and so would a slope
// within cells or a product of covariates. Each covariate has one centre,
// its weighted mean, and a column is fitted as
//
//   z_k = x_k - shift_k * sum over its unit of a_u z_u,
//
// its unit being the intercept, or its cell's indicator, or the kept
// columns that indicator is aliased with (shift: the covariate's centre),
// or for a product of covariates the lower-order columns of its expansion
// (MCProductTerms, shift 1): a slope becomes (x - c) within its cell and a
// product the product of its centred covariates. An effect is fitted so
// when every kept column of it has such a unit on kept columns that are
// themselves fitted so; a covariate-only effect that is not (a square
// without its covariate) is fitted less its own mean, and the rest raw.
// Then b = T b' and V = T V' T' with T the identity but for -shift_k a_u
// at (u, k).
class MCLogCentring {
public:
    using Combination = std::vector<std::pair<int, double>>;

    // Before the sweep, from X'X as summed: each covariate's centre and
    // each covariate-only column's mean. effectOf: the model effect of each
    // basic parameter. Without an intercept nothing is centred.
    void SetUp(const std::vector<MCRegrParameter>& params, const std::vector<int>& effectOf,
               int nEffects, const MCSymMatrix& xx, bool intercept);
    // After the sweep on the kept basic parameters: which effects are
    // fitted centred, and every column's unit and shift.
    void Decide(const MCColumnCentring& centring, const MCSymMatrix& swept, const MCBitSet& kept,
                const std::vector<double>& diagonal);

    // Whether model effect e's covariates enter less their centres.
    bool Centred(std::size_t e) const { return e < fvCentred.size() && fvCentred[e] != 0; }
    // The centre of covariate var (its position in a record), 0 for none.
    double VariableCentre(int var) const;
    // Whether basic parameter k's effect is fitted centred.
    bool ColumnCentred(std::size_t k) const {
        return k < fvEffectOf.size() && Centred(static_cast<std::size_t>(fvEffectOf[k]));
    }
    // What covariate-only effect e is less as a whole (its own mean), 0
    // for none.
    double OwnCentre(std::size_t e) const { return e < fvOwn.size() ? fvOwn[e] : 0.0; }
    // Per basic parameter its unit (empty: fitted as it is) and shift.
    const std::vector<Combination>& Units() const { return fvUnits; }
    const std::vector<double>& Shifts() const { return fvShifts; }
    // Whether every centred column moves only the one column of its own
    // cell's unit (a covariate on the intercept or its cell's indicator),
    // which its rows hold whenever they hold it.
    bool MovesOwnUnits() const { return fbOwnUnits; }
    // Carries the estimates (nLogits blocks of the basic parameters) and,
    // when given, their covariance to the model's parametrisation.
    void Uncentre(std::vector<double>& estimates, MCSymMatrix* covariance, int nLogits) const;

private:
    // Column k's unit and shift; false when it has none on kept columns.
    bool Combine(std::size_t k, const MCColumnCentring& centring, const MCSymMatrix& swept,
                 const MCBitSet& kept, const std::vector<double>& diagonal, Combination& unit,
                 double& shift) const;
    // Within one order of the columns (their covariates' powers summed):
    // T's steps of those columns on the covariance.
    void UncentreOrder(MCSymMatrix& covariance, int order, int nLogits) const;

    // Per basic parameter: its covariates' powers summed (0 without any),
    // its covariate when it has one alone, and whether it has no factor.
    struct Column {
        int order = 0;
        int var = -1;
        bool alone = false;
    };
    std::vector<Column> fvColumns;
    std::vector<int> fvEffectOf;
    MCProductTerms fProducts;
    std::map<int, double> fCentres;      // per covariate
    std::vector<double> fvColumnMean;    // per covariate-only column
    std::vector<double> fvColumnCentre;  // per column of one covariate: its centre
    bool fbIntercept = false;
    std::vector<char> fvCentred;  // per model effect
    std::vector<double> fvOwn;    // per model effect
    std::vector<Combination> fvUnits;
    std::vector<double> fvShifts;
    bool fbOwnUnits = true;
    int fMaxOrder = 0;
};

}  // namespace MCMath_850
