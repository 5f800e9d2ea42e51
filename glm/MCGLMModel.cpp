#include "glm/MCGLMModel.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/MCMemory.h"
#include "companion/MCStatusCodes.h"
#include "data/MCFactorCounts.h"
#include "data/MCFactorTables.h"
#include "design/MCParameterList.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCMV;
using MCCommon_850::MCStatus;
using MCCommon_850::PrecisionWarning;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// A covariate whose mean is more than this many times its spread enters
// the robust covariance centred.
constexpr double kCentringRatio = 100.0;
// A column's mean over its spread beyond which its uncentred sandwich
// loses more than half the digits of a double (it loses their square).
constexpr double kCellRatio = 1e4;

}  // namespace

MCGLMModel::MCGLMModel(const MCRegSettings& settings, MCCancelInfo& cancel)
    : fpSettings(&settings),
      fpCancel(&cancel),
      fpEffects(&settings.GetModelEffects()),
      fDepMean(MCMV::Missing()),
      fTotalWeight(MCMV::Missing()),
      fInvTotalWeight(1.0 / MCMV::Missing()),
      fRSquare(MCMV::Missing()),
      fRMSE(MCMV::Missing()) {
    SetOffsets(settings.GetFactors(), settings.GetCovariates(), settings.GetFrequencyWeightVar(),
               settings.GetRegrWeightVar(), settings.GetDependent());
}

void MCGLMModel::SetOffsets(const std::vector<int>& factors, const std::vector<int>& covariates,
                            int freqWeightVar, int regrWeightVar, int depVar) {
    fvFactors = factors;
    fvCovariates = covariates;
    fFreqWeightVar = freqWeightVar;
    fRegrWeightVar = regrWeightVar;
    fDepVar = depVar;
}

MCStatus MCGLMModel::CreateParameters(MCFactorTables* tables) {
    if (tables == nullptr) return fStatus = ErrorStatus(StatusCode::kMissingInput);
    fpFactorTables = tables;
    fvParameters.clear();
    fvEffectFirst.clear();
    fvEffectCount.clear();
    const bool intercept = fpSettings->GetInterceptUse();
    // Counted first, so that a model over the limit reports its real
    // size without building the list.
    const long total =
        MCParameterList::Count(*tables, static_cast<int>(fpEffects->size()), intercept);
    if (total > kMaxParameters) {
        MCStatus s = ErrorStatus(StatusCode::kTooManyParameters);
        s.SetDiscreteDatum(0, total);
        s.SetDiscreteDatum(1, kMaxParameters);
        return fStatus = s;
    }
    if (!FitsInMemory(total)) return fStatus;
    MCParameterList list;
    if (!list.Build(*tables, *fpEffects, intercept, *fpCancel))
        return fStatus = ErrorStatus(StatusCode::kCancelled);
    fvParameters = std::move(list.fvParameters);
    fvEffectFirst = std::move(list.fvEffectFirst);
    fvEffectCount = std::move(list.fvEffectCount);
    // Here the intercept counts as the first effect.
    if (intercept) {
        fvEffectFirst.insert(fvEffectFirst.begin(), 0);
        fvEffectCount.insert(fvEffectCount.begin(), 1);
    }
    const int p = GetNParameters();
    fpZPrimeZ = std::make_unique<MCSymMatrix>(p + 1);
    fvIdx.assign(fvEffectFirst.size() + 1, 0);
    fvHi.assign(fvIdx.size(), 0.0);
    fvLo.assign(fvIdx.size(), 0.0);
    fvHasCovariates.assign(fvParameters.size(), 0);
    fbProducts = false;
    for (std::size_t k = 0; k < fvParameters.size(); ++k) {
        const MCRegrParameter& prm = fvParameters[k];
        fvHasCovariates[k] = prm.GetNCovariates() > 0;
        if (prm.GetNCovariateMult() >= 2) fbProducts = true;
    }
    fCentring.SetUp(fvParameters, intercept);
    fProducts.SetUp(fbProducts ? fvParameters : std::vector<MCRegrParameter>{});
    fvKeptScale.clear();
    if (fbProducts) {
        fvDenseHi.assign(fvParameters.size() + 1, 0.0);
        fvDenseLo.assign(fvParameters.size() + 1, 0.0);
    }
    fCells.SetUp(fvParameters, fpSettings->GetFactors(), fpSettings->GetFactorSizes(), fDepVar);
    fRedundancy = MCBitSet(GetNParameters() + 1);
    fvEstimates.assign(static_cast<std::size_t>(GetNParameters()), 0.0);
    fNRows = 0;
    fNLocalRows = 0;
    fNRowsOutsideCells = 0;
    fbCellsFlushed = false;
    fClusterRuns.Reset();
    const std::vector<int>& clusters = fpSettings->GetClusterVars();
    fClusterVar = fpSettings->GetSandwichType() == MCSandwich::kCluster && clusters.size() == 1 &&
                          fpSettings->GetPassReducer() == nullptr
                      ? clusters[0]
                      : -1;
    fbParamsCreated = true;
    return fStatus = MCStatus();
}

bool MCGLMModel::FitsInMemory(long p) {
    // Z'Z and the covariance matrix that the output statistics copy from
    // it. Refused before allocating: on a system that overcommits, a matrix
    // too large for the machine is granted and the process killed later.
    // A robust covariance adds its bread, middle, two products and result.
    // Kept cross products add Z'Z before and after the sweep.
    const double robust = fpSettings->GetSandwichType() >= 0 ? 4.5 * 8.0 : 0.0;
    const double copies = fpSettings->GetKeepCrossProducts() ? 3.0 : 1.0;
    const auto need = [robust, copies](long n) {
        return copies * MCSymMatrix::StorageBytes(static_cast<int>(n) + 1) +
               MCSymMatrix::StorageBytes(static_cast<int>(n)) +
               robust * static_cast<double>(n) * static_cast<double>(n);
    };
    const double have = static_cast<double>(UsableMemoryBytes());
    if (have <= 0.0 || need(p) <= have) return true;
    long fits = static_cast<long>(std::sqrt(have / 16.0));
    while (fits > 0 && need(fits) > have) --fits;
    MCStatus s = ErrorStatus(StatusCode::kTooManyParameters);
    s.SetDiscreteDatum(0, p);
    s.SetDiscreteDatum(1, fits);
    s.SetScaleDatum(1, need(p) / 1e9);
    s.SetScaleDatum(2, have / 1e9);
    fStatus = s;
    return false;
}

double MCGLMModel::ComputeDesignRowValue2(const double* values, const MCRegrParameter& p) const {
    return p.CovariateProduct(values);
}

double MCGLMModel::ComputeDesignRowValue(const double* values, const MCRegrParameter& p) const {
    const std::vector<int>& factors = p.GetFactors();
    const std::vector<int>& cats = p.GetCategories();
    for (std::size_t f = 0; f < factors.size(); ++f)
        if (static_cast<int>(values[factors[f]] + 0.5) != cats[f]) return 0.0;
    return ComputeDesignRowValue2(values, p);
}

bool MCGLMModel::ExpandSparse(const double* values) const {
    bool allFound = true;
    const std::vector<int>& idx = fpFactorTables->GetRowParameterIndices(values, allFound);
    int n = 0;
    for (int i : idx) {
        if (i < 0) continue;
        fvIdx[n] = i;
        if (fvHasCovariates[Ix(i)]) {
            GLMDesignValue(values, fvParameters[Ix(i)], fvHi[n], fvLo[n]);
        } else {
            fvHi[n] = 1.0;
            fvLo[n] = 0.0;
        }
        ++n;
    }
    fvIdx[n] = GetNParameters();
    fvHi[n] = values[fDepVar];
    fvLo[n] = 0.0;
    fNnz = n + 1;
    return allFound;
}

double MCGLMModel::RowWeight(const double* values) const {
    double w = fInvTotalWeight;
    if (fFreqWeightVar >= 0) w *= values[fFreqWeightVar];
    if (fRegrWeightVar >= 0) w *= values[fRegrWeightVar];
    return w;
}

bool MCGLMModel::ExpandRow(std::vector<double>& row, const double* values) const {
    if (!fbParamsCreated || values == nullptr) return false;
    const std::size_t p = fvParameters.size();
    const std::size_t n = std::min(row.size(), p);
    std::fill(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n), 0.0);
    bool allFound = true;
    const std::vector<int>& idx = fpFactorTables->GetRowParameterIndices(values, allFound);
    for (int i : idx) {
        if (i < 0 || static_cast<std::size_t>(i) >= row.size()) continue;
        row[Ix(i)] =
            fvHasCovariates[Ix(i)] ? ComputeDesignRowValue2(values, fvParameters[Ix(i)]) : 1.0;
    }
    if (row.size() > p) row[p] = values[fDepVar];
    return allFound;
}

bool MCGLMModel::UpdateZPrimeZ(const double* values) {
    if (!fbParamsCreated || fbModelBuilt || values == nullptr || !fpZPrimeZ) return false;
    if (fClusterVar >= 0) fClusterRuns.Add(values[fClusterVar]);
    const double w = RowWeight(values);
    if (fCells.IsActive()) {
        if (fCells.Add(values, w)) {
            ++fNRows;
            return true;
        }
    }
    ExpandSparse(values);
    if (!AddExpandedRow(w)) return false;
    fCentring.Add(fvIdx.data(), Ix(std::max(fNnz - 1, 0)), w);
    ++fNRows;
    ++fNRowsOutsideCells;
    return true;
}

bool MCGLMModel::AddExpandedRow(double w) {
    if (!fbProducts) return fpZPrimeZ->UpdateXXSparse(fvIdx.data(), fvHi.data(), fNnz, w);
    // Powers and products of covariates carry digits beyond a double; the
    // dense form keeps them.
    for (std::size_t k = 0; k < static_cast<std::size_t>(fNnz); ++k) {
        fvDenseHi[Ix(fvIdx[k])] = fvHi[k];
        fvDenseLo[Ix(fvIdx[k])] = fvLo[k];
    }
    const bool ok = fpZPrimeZ->UpdateXX(fvDenseHi.data(), fvDenseLo.data(), w);
    for (std::size_t k = 0; k < static_cast<std::size_t>(fNnz); ++k) {
        fvDenseHi[Ix(fvIdx[k])] = 0.0;
        fvDenseLo[Ix(fvIdx[k])] = 0.0;
    }
    return ok;
}

void MCGLMModel::CentreProducts(const std::vector<int>& units, std::vector<int>& centreUnit,
                                std::vector<double>& centre,
                                std::vector<unsigned char>& productCentred) const {
    // A product x*z of covariates far from zero is nearly a multiple of x
    // and of z as well as of the intercept, by as much as the product of
    // their means over their spreads: centred on its own mean it keeps
    // that collinearity. Where the model holds every lower-order column,
    // the sandwich is made on the products of the centred covariates
    // instead, with those columns (and each product's lower-order
    // products) centred likewise, whatever their own ratio.
    const std::size_t p = fvParameters.size();
    productCentred.assign(p, 0);
    for (std::size_t k = 0; k < p; ++k) {
        const int u = units[k];
        if (!fProducts.IsComplete(k) || u < 0 || fCentring.WithoutIndicator(k)) continue;
        const std::vector<int>& bases = fProducts.Bases(k);
        const std::vector<int>& powers = fProducts.BasePowers(k);
        double ratio = 1.0;
        for (std::size_t i = 0; i < bases.size(); ++i)
            ratio *= std::pow(std::max(fCentring.MeanOverSpread(*fpZPrimeZ, Ix(bases[i])), 1.0),
                              powers[i]);
        if (!(ratio > kCentringRatio)) continue;
        productCentred[k] = 1;
        for (int sub : fProducts.SubProducts(k)) productCentred[Ix(sub)] = 1;
        for (int b : bases) {
            centreUnit[Ix(b)] = units[Ix(b)];
            centre[Ix(b)] = fCentring.Mean(*fpZPrimeZ, Ix(b));
        }
    }
    for (std::size_t k = 0; k < p; ++k)
        if (productCentred[k]) centreUnit[k] = units[k];
}

MCSandwich::Combination MCGLMModel::ProductUnits(std::size_t k, const MCSandwich::Combination& unit,
                                                 const std::vector<double>& centre) const {
    // The expansion's terms on the kept columns: its empty product on the
    // unit's combination. A lower-order column the sweep found aliased
    // leaves the product uncentred.
    MCSandwich::Combination terms;
    for (const auto& [column, coef] : fProducts.Expansion(k, centre)) {
        if (column < 0) {
            for (const auto& [j, c] : unit) terms.emplace_back(j, coef * c);
            continue;
        }
        if (!fRedundancy.IsIn(column)) return {};
        terms.emplace_back(column, coef);
    }
    return terms;
}

void MCGLMModel::WarnCollinearProducts(const std::vector<double>& squares) {
    // A column whose size is r times what the other columns leave of it
    // (r^2 its sum of squares times its diagonal of the swept -G) costs
    // the sandwich r^2 in precision; beyond kCellRatio it keeps less than
    // half the digits of a double.
    double worst = 0.0;
    const int which = fpZPrimeZ->MostCollinear(squares, fRedundancy, kCellRatio, worst);
    if (which < 0) return;
    fvWarnings.push_back(PrecisionWarning(StatusCode::kRobustFarProduct, which, worst));
}

MCStatus MCGLMModel::BuildModel() {
    if (fNRows == 0 || !fpZPrimeZ) return fStatus = ErrorStatus(StatusCode::kNothingToBuild);
    if (fbModelBuilt) return fStatus = ErrorStatus(StatusCode::kAlreadyBuilt);
    const int p = GetNParameters();
    if (!FlushCells()) return fStatus = ErrorStatus(StatusCode::kPassOutOfOrder);
    if (SharesSolve() && !fpSettings->GetPassReducer()->Leads()) {
        // The leader sweeps the same merged sums: its results come by
        // ShareSolve, and this member's Z'Z is not read again.
        fRedundancy = MCBitSet(p + 1);
        fbModelBuilt = true;
        fResidualSum = fResidualLow = 0.0;
        fTotalSum = fTotalLow = 0.0;
        if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
        return fStatus = MCStatus();
    }
    if (fpSettings->GetKeepCrossProducts()) {
        // Summed with each weight over the total: made sums again.
        auto kept = std::make_shared<MCSymMatrix>(*fpZPrimeZ);
        kept->Scale(fTotalWeight);
        fpCrossProducts = std::move(kept);
    }
    if (!fpCancel->WillCancel()) {
        const double tol = fpSettings->GetTolerance();
        // Each column judged by its spread about its mean: a covariate far
        // from zero is not a multiple of the intercept.
        const std::vector<int>& centring = fCentring.Units();
        std::vector<double> scale;
        fpZPrimeZ->ComputeCentredScale(scale, centring, tol, fCentring.Weights());
        if (fpCrossProducts) {
            // The same judgement on the kept sums, for the tests that sweep
            // them again.
            std::vector<int> keptUnits = centring;
            keptUnits.push_back(fpSettings->GetInterceptUse() ? 0 : -1);
            const std::vector<double> keptWeights = fCentring.ScaledWeights(fTotalWeight);
            fpCrossProducts->ComputeCentredScale(fvKeptScale, keptUnits, tol, &keptWeights);
        }
        fRedundancy = MCBitSet(p + 1);
        std::vector<double> diagonal;
        if (fpSettings->GetKeepCrossProducts()) fpZPrimeZ->GetDiagonal(diagonal);
        // A robust covariance is made with each covariate column centred on
        // its mean where the columns are centred for the aliasing (over the
        // records of its cell's indicator, or all): the column sums, before
        // the sweep takes them.
        const bool robust = fpSettings->GetSandwichType() >= 0;
        std::vector<int> centreUnit;
        std::vector<double> centre;
        std::vector<unsigned char> productCentred;
        std::vector<double> productSquares;
        if (robust) {
            if (diagonal.empty()) fpZPrimeZ->GetDiagonal(diagonal);
            centreUnit = centring;
            centre.assign(Ix(p), 0.0);
            for (int k = 0; k < p; ++k) {
                const int u = centreUnit[Ix(k)];
                // The sandwich centres the entries a record has: a column
                // within the cells of an effect without its indicator,
                // centred on the intercept, would have to move in the
                // records outside its cell too, where it is zero.
                // Uncentred, it keeps its digits only within kCellRatio of
                // its cell's mean over its spread there; beyond, no robust
                // covariance is given rather than an imprecise one.
                const bool withoutIndicator = fCentring.WithoutIndicator(Ix(k));
                if (withoutIndicator && fCentring.MeanOverSpread(*fpZPrimeZ, Ix(k)) > kCellRatio) {
                    MCStatus s = ErrorStatus(StatusCode::kRobustFarInCells);
                    s.SetDiscreteDatum(1, k + 1);
                    return fStatus = s;
                }
                if (u < 0 || u == k || fvParameters[Ix(k)].GetNCovariates() == 0 ||
                    withoutIndicator) {
                    centreUnit[Ix(k)] = -1;
                    continue;
                }
                // Uncentred, G M G sums terms up to the square of a
                // column's mean over its spread times its elements: within
                // kCentringRatio that costs the last digit at most, and the
                // middle keeps its cells' sums, which record by record cost
                // most of a pass again.
                if (fCentring.MeanOverSpread(*fpZPrimeZ, Ix(k)) > kCentringRatio)
                    centre[Ix(k)] = fCentring.Mean(*fpZPrimeZ, Ix(k));
                else
                    centreUnit[Ix(k)] = -1;
            }
            if (fbProducts) {
                CentreProducts(centring, centreUnit, centre, productCentred);
                // The products left as they are: their sums of squares as
                // they enter the sandwich (about their mean when centred
                // alone), which the sweep's diagonal then compares with
                // what the other columns leave of them.
                productSquares.assign(Ix(p), 0.0);
                for (std::size_t k = 0; k < Ix(p); ++k)
                    if (fvParameters[k].GetNCovariateMult() >= 2 && !productCentred[k] &&
                        !fCentring.WithoutIndicator(k))
                        productSquares[k] = centre[k] != 0.0
                                                ? fCentring.CentredSquares(*fpZPrimeZ, k)
                                                : std::max(diagonal[k], 0.0);
            }
        }
        // Pivots decided in parameter order; a large factor's cells are
        // swept before the intercept and the other pivots that would
        // otherwise fill the matrix for all of them.
        fpZPrimeZ->SweepLeading(p, tol, scale, fRedundancy, fpCancel);
        fpZPrimeZ->GetRegCoeffs(fvEstimates, fRedundancy);
        // A unit the sweep found aliased (the last category's indicator) is
        // the combination of the kept columns it is aliased with.
        std::vector<MCSandwich::Combination> units;
        if (robust) {
            units.assign(Ix(p), {});
            for (int k = 0; k < p; ++k) {
                const int u = centreUnit[Ix(k)];
                if (u < 0) continue;
                MCSandwich::Combination unit =
                    fpZPrimeZ->KeptCombination(fRedundancy, diagonal, u, p);
                units[Ix(k)] = productCentred.empty() || !productCentred[Ix(k)]
                                   ? std::move(unit)
                                   : ProductUnits(Ix(k), unit, centre);
            }
            // A product's centre is its expansion's: 1 times its terms.
            for (std::size_t k = 0; k < productCentred.size(); ++k)
                if (productCentred[k]) centre[k] = 1.0;
            if (!productSquares.empty()) WarnCollinearProducts(productSquares);
        }
        if (fpSettings->GetKeepCrossProducts()) {
            auto swept = std::make_shared<MCSymMatrix>(*fpZPrimeZ);
            // The aliased parameters' coefficients are what the tests'
            // hypotheses and the marginal means' estimability are made of.
            swept->ClearAliasingRounding(p, fRedundancy, diagonal, MCSymMatrix::kAliasingRounding);
            swept->UnscaleSwept(fRedundancy, 1.0 / fTotalWeight);
            swept->Scale(-1.0);
            fpSweptKept = std::move(swept);
        }
        if (fCells.IsActive()) fCells.SetCoefficients(fvEstimates);
        // The dependent is no parameter: only the parameters' rows and
        // columns are cleared, keeping the residual corner.
        MCBitSet params = fRedundancy;
        params.Resize(p);
        fpZPrimeZ->ZeroOutRedundant(params);
        fpZPrimeZ->Scale(1.0 / fTotalWeight);
        const int sandwich = fpSettings->GetSandwichType();
        if (sandwich >= 0) {
            static_assert(static_cast<int>(MCSandwich::kCluster) == MCConst::ROBUST_CLUSTER,
                          "one numbering");
            fpSandwich = std::make_unique<MCSandwich>(
                sandwich, static_cast<int>(fpSettings->GetClusterVars().size()));
            if (fClusterVar >= 0 && fClusterRuns.SingleRuns())
                fpSandwich->SetSingleRuns(fClusterRuns.Runs());
            fpSandwich->SetCentring(units, centre);
            if (!fpSandwich->Start(*fpZPrimeZ, -1.0, params, p))
                return fStatus = ErrorStatus(StatusCode::kAllocationFailed);
            // Records of a cell share their columns: the middle is summed
            // over their few source values (records outside the cells, or
            // all of them when memory runs out, go one by one).
            std::vector<std::size_t> start;
            std::vector<int> cols, srcs;
            int nSources = 0;
            fbSandwichCells = fCells.IsActive() &&
                              fCells.DesignPatterns(start, cols, srcs, nSources) &&
                              fpSandwich->SetPatterns(nSources, start, cols, srcs);
            try {
                fvSources.assign(Ix(std::max(nSources, 1)), 0.0);
            } catch (const std::bad_alloc&) {
                fbSandwichCells = false;
            }
        }
        fbModelBuilt = true;
        fResidualSum = fResidualLow = 0.0;
        fTotalSum = fTotalLow = 0.0;
    }
    if (fpCancel->WillCancel()) return fStatus = ErrorStatus(StatusCode::kCancelled);
    return fStatus = MCStatus();
}

bool MCGLMModel::FlushCells() {
    if (!fCells.IsActive() || fbCellsFlushed) return true;
    fbCellsFlushed = true;
    fNLocalRows = fNRows;
    // A robust covariance needs every record's residual: the records are
    // passed again whatever the cells could sum.
    fbCellsKept = fpSettings->GetSandwichType() < 0;
    return fCells.Flush(*fpFactorTables, *fpZPrimeZ, fCentring.MutableWeights(), fbCellsKept);
}

bool MCGLMModel::MergeZPrimeZ(MCCommon_850::PassReducer& reducer) {
    if (!fpZPrimeZ || fbModelBuilt || !FlushCells()) return false;
    if (!fpZPrimeZ->MergeAcrossProcesses(reducer)) return false;
    if (!fCentring.Merge(reducer)) return false;
    // Every part must know whether any part's records went outside the
    // cells: all then pass the records for the residuals, or none.
    std::vector<double> rows{static_cast<double>(fNRows), static_cast<double>(fNRowsOutsideCells)};
    if (!reducer.Sum(rows)) return false;
    fNRows = static_cast<int>(rows[0]);
    fNRowsOutsideCells = static_cast<int>(rows[1]);
    return true;
}

bool MCGLMModel::SharesSolve() const {
    return fpSettings->GetPassReducer() != nullptr && fpSettings->GetSandwichType() < 0 &&
           !fpSettings->GetKeepCrossProducts();
}

bool MCGLMModel::ShareSolve(MCCommon_850::PassReducer& reducer) {
    // The estimates, then per column (the dependent's too) whether it was
    // kept: a member takes them as they are, so its fitted values and
    // residual sums have the leader's bits.
    const auto p = Ix(GetNParameters());
    std::vector<double> solve;
    const bool leads = reducer.Leads();
    if (leads) {
        solve = fvEstimates;
        for (std::size_t k = 0; k <= p; ++k)
            solve.push_back(fRedundancy.IsIn(static_cast<int>(k)) ? 1.0 : 0.0);
    }
    if (!reducer.Share(solve) || solve.size() != 2 * p + 1) return false;
    if (leads) return true;
    fvEstimates.assign(solve.begin(), solve.begin() + static_cast<std::ptrdiff_t>(p));
    fRedundancy = MCBitSet(static_cast<int>(p) + 1);
    for (std::size_t k = 0; k <= p; ++k)
        if (solve[p + k] != 0.0) fRedundancy.Set(static_cast<int>(k));
    if (fCells.IsActive()) fCells.SetCoefficients(fvEstimates);
    return true;
}

bool MCGLMModel::MergeErrorSums(MCCommon_850::PassReducer& reducer) {
    if (fpSandwich && !fpSandwich->Merge(reducer)) return false;
    std::vector<double> sums{fResidualSum, fResidualLow, fTotalSum, fTotalLow};
    std::vector<double> rows{static_cast<double>(fNResidualRows), fResidualBound, fTotalBound};
    if (!reducer.SumExtended(sums) || !reducer.Sum(rows)) return false;
    fResidualSum = sums[0];
    fResidualLow = sums[1];
    fTotalSum = sums[2];
    fTotalLow = sums[3];
    fNResidualRows = static_cast<int>(rows[0]);
    fResidualBound = rows[1];
    fTotalBound = rows[2];
    return true;
}

bool MCGLMModel::SumResidualsByCells() {
    if (!fbModelBuilt || !fbCellsKept || fNRowsOutsideCells != 0 || fpSandwich) return false;
    MCGLMCellMoments::ResidualSums sums;
    if (!fCells.SumResiduals(fDepMean, fpSettings->GetInterceptUse(), fNLocalRows, sums)) {
        // Every part kept its moments alike; this cannot differ between them.
        return false;
    }
    fResidualSum = sums.fResidual.hi;
    fResidualLow = sums.fResidual.lo;
    fTotalSum = sums.fTotal.hi;
    fTotalLow = sums.fTotal.lo;
    fResidualBound = sums.fResidualBound;
    fTotalBound = sums.fTotalBound;
    fNResidualRows = fNLocalRows;
    return true;
}

bool MCGLMModel::ResidualsByCellsExact() {
    // Record by record each squared residual alone is rounded at 2^-53 of
    // itself: a bound of 2^-60 of the sum leaves the sums as exact as the
    // records would give them.
    const double within = std::ldexp(1.0, -60);
    const bool exact = fResidualBound <= within * (fResidualSum + fResidualLow) &&
                       fTotalBound <= within * (fTotalSum + fTotalLow);
    fCells.ReleaseMoments();
    fbCellsKept = false;
    if (!exact) {
        fResidualSum = fResidualLow = fTotalSum = fTotalLow = 0.0;
        fResidualBound = fTotalBound = 0.0;
        fNResidualRows = 0;
    }
    return exact;
}

double MCGLMModel::FittedValue(const double* values) const {
    // In double-double, so that a residual small against the fitted value
    // keeps its digits.
    DoubleDouble::DD fitted{0.0, 0.0};
    if (fCells.FittedValue(values, fitted.hi, fitted.lo)) return fitted.hi + fitted.lo;
    ExpandSparse(values);
    for (std::size_t k = 0; k + 1 < static_cast<std::size_t>(fNnz); ++k) {
        const double b = fvEstimates[Ix(fvIdx[k])];
        double ph, pl;
        DoubleDouble::TwoProd(fvHi[k], b, ph, pl);
        DoubleDouble::Accumulate(fitted.hi, fitted.lo, ph, pl + fvLo[k] * b);
    }
    return fitted.hi + fitted.lo;
}

double MCGLMModel::AccumulateResidual(const double* values) {
    if (!fbModelBuilt || values == nullptr) return 0.0;
    const double y = values[fDepVar];
    const double e = y - FittedValue(values);
    if (fbSandwichCells) {
        // Kept for AddToSandwich, which follows with the same record.
        fResidualCell = fCells.LastSources(fvSources.data());
        fpResidualValues = values;
    }
    const double wt = RowWeight(values);
    // Compensated sums: millions of small terms would otherwise drift.
    DoubleDouble::Accumulate(fResidualSum, fResidualLow, wt * e * e, 0.0);
    const double dev = fpSettings->GetInterceptUse() ? y - fDepMean : y;
    DoubleDouble::Accumulate(fTotalSum, fTotalLow, wt * dev * dev, 0.0);
    if (wt != 0.0) ++fNResidualRows;
    return e;
}

void MCGLMModel::GetDResiduals(std::vector<double>& scratch, const double* values) {
    if (!fbModelBuilt || values == nullptr) return;
    const double e = AccumulateResidual(values);
    const int p = GetNParameters();
    const double wt = RowWeight(values);
    ExpandSparse(values);
    scratch.assign(static_cast<std::size_t>(p), 0.0);
    for (int k = 0; k + 1 < fNnz; ++k) scratch[Ix(fvIdx[k])] = e * fvHi[k] * wt;
}

bool MCGLMModel::AddToSandwich(const double* values, double e, long recordNo, MCStatus& status) {
    if (!fpSandwich || values == nullptr) return true;
    const double fw = FreqWeight(values), rw = RegrWeight(values);
    double keys[2] = {0.0, 0.0};
    const std::vector<int>& clusters = fpSettings->GetClusterVars();
    for (std::size_t c = 0; c < clusters.size() && c < 2; ++c) keys[c] = values[clusters[c]];
    int cell = -1;
    if (fbSandwichCells) {
        cell = values == fpResidualValues ? fResidualCell
                                          : fCells.DesignSources(values, fvSources.data());
        fpResidualValues = nullptr;
    }
    if (cell >= 0)
        return fpSandwich->AddPattern(cell, fvSources.data(), fw * rw * rw * e * e, rw, fw * rw * e,
                                      keys, recordNo, status);
    ExpandSparse(values);
    for (int k = 0; k + 1 < fNnz; ++k) fvHi[Ix(k)] += fvLo[Ix(k)];
    return fpSandwich->Add(fvIdx.data(), fvHi.data(), fNnz - 1, fw * rw * rw * e * e, rw,
                           fw * rw * e, keys, recordNo, status);
}

MCStatus MCGLMModel::FinishErrors() {
    fResidualSum += fResidualLow;
    fTotalSum += fTotalLow;
    fResidualLow = fTotalLow = 0.0;
    if (fTotalWeight > 0.0 && !MCMV::IsMissing(fTotalWeight)) fRMSE = std::sqrt(fResidualSum);
    if (fTotalSum > 0.0)
        fRSquare = fResidualSum >= fTotalSum ? 0.0 : 1.0 - fResidualSum / fTotalSum;
    if (fNResidualRows == 0 || !(fTotalWeight > 0.0)) {
        MCStatus s = ErrorStatus(StatusCode::kNoPositiveWeight);
        s.SetScaleDatum(1, fTotalWeight);
        return fStatus = s;
    }
    if (fpSandwich) {
        fpRobustCov = std::make_unique<MCSymMatrix>(0);
        const MCStatus s = fpSandwich->Finish(fTotalWeight, *fpRobustCov);
        if (s.IsError()) return fStatus = s;
    }
    return fStatus = MCStatus();
}

double MCGLMModel::Score(const double* values) const {
    if (!fbModelBuilt || values == nullptr) return MCMV::Missing();
    bool allFound = true;
    fpFactorTables->GetRowParameterIndices(values, allFound);
    if (!allFound) return MCMV::Missing();
    return FittedValue(values);
}

void MCGLMModel::SetDepMeanAndTotalW(double mean, double totalWeight) {
    fDepMean = mean;
    fTotalWeight = totalWeight;
    fInvTotalWeight = 1.0 / totalWeight;
}

bool MCGLMModel::GetParamsForEffect(int effect, int& first, int& count) const {
    if (effect < 0 || effect >= static_cast<int>(fvEffectFirst.size())) return false;
    first = fvEffectFirst[Ix(effect)];
    count = fvEffectCount[Ix(effect)];
    return true;
}

void MCGLMModel::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCGLMModel display start");
    DisplayIV("Factors", fvFactors);
    DisplayIV("Covariates", fvCovariates);
    DisplayI("Frequency weight variable", fFreqWeightVar);
    DisplayI("Regression weight variable", fRegrWeightVar);
    DisplayI("Dependent variable", fDepVar);
    DisplayI("Number of parameters", GetNParameters());
    DisplayB("Parameters created", fbParamsCreated);
    DisplayB("Model built", fbModelBuilt);
    DisplayI("Rows accumulated", fNRows);
    DisplayDV("Estimates", fvEstimates);
    DisplayD("Multiple R-square", fRSquare);
    DisplayD("Root mean square error", fRMSE);
    DisplayD("Dependent mean", fDepMean);
    DisplayD("Total frequency weight", fTotalWeight);
    DisplayIV("First parameter of each effect", fvEffectFirst);
    DisplayIV("Parameters of each effect", fvEffectCount);
    DisplayText("MCGLMModel display end");
}

}  // namespace MCMath_850
