#include "companion/MCSandwich.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/MCAllocationGuard.h"
#include "companion/MCEigenValues.h"
#include "companion/MCIndex.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatusCodes.h"
#include "companion/MCUnitSteps.h"

namespace MCMath_850 {

using MCCommon_850::ErrorStatus;
using MCCommon_850::MCStatus;
namespace StatusCode = MCCommon_850::StatusCode;

namespace {

// Below this 1 - h is rounding of a leverage of 1: the record is fitted
// exactly and HC2/HC3 would divide by nothing.
constexpr double kLeverageOneGap = 1.5e-8;

}  // namespace

MCSandwich::MCSandwich(int type, int clusterColumns)
    : fType(type),
      fvGroupings(type != kCluster      ? 0
                  : clusterColumns >= 2 ? 3
                                        : 1) {}

void MCSandwich::SetCentring(const std::vector<Combination>& unit,
                             const std::vector<double>& centre, bool given) {
    fvCentreUnit = unit;
    fvCentre = centre;
    fbCentringGiven = given;
}

bool MCSandwich::Start(const MCSymMatrix& m, double sign, const MCBitSet& kept, int p) {
    fP = p;
    fvCompact.assign(Ix(p), -1);
    fvKept.clear();
    for (int j = 0; j < p; ++j)
        if (kept.IsIn(j)) {
            fvCompact[Ix(j)] = static_cast<int>(fvKept.size());
            fvKept.push_back(j);
        }
    fK = static_cast<int>(fvKept.size());
    const std::size_t k = Ix(fK);
    // A column is centred on kept columns other than itself.
    fvUnit.assign(k, {});
    fvShift.assign(k, 0.0);
    fbCentred = false;
    if (fvCentreUnit.size() >= Ix(p) && fvCentre.size() >= Ix(p)) {
        for (std::size_t a = 0; a < k; ++a) {
            const double c = fvCentre[Ix(fvKept[a])];
            if (c == 0.0 || !std::isfinite(c)) continue;
            Combination unit;
            for (const auto& [u, coef] : fvCentreUnit[Ix(fvKept[a])]) {
                if (u < 0 || u >= p || fvCompact[Ix(u)] < 0 || Ix(fvCompact[Ix(u)]) == a) {
                    unit.clear();
                    break;
                }
                if (coef != 0.0) unit.emplace_back(fvCompact[Ix(u)], coef);
            }
            fvUnit[a] = std::move(unit);
            fvShift[a] = c;
        }
    }
    OrderCentring();
    for (std::size_t a = 0; a < k; ++a) fbCentred = fbCentred || !fvUnit[a].empty();
    fvBread.assign(k * k, 0.0);
    if (!fbCentred || fbCentringGiven) {
        for (std::size_t a = 0; a < k; ++a)
            for (std::size_t b = 0; b <= a; ++b) {
                const double g = sign * m.GetElem(fvKept[a], fvKept[b]);
                fvBread[a * k + b] = fvBread[b * k + a] = g;
            }
    } else {
        // The centred design's bread T^-1 G T^-T, T^-1 adding shift times
        // a centred column's row (then column) to its unit's: in extended
        // precision, from the sweep's, since its terms cancel to many
        // orders below themselves.
        using DoubleDouble::DD;
        std::vector<DD> g(k * k);
        for (std::size_t a = 0; a < k; ++a)
            for (std::size_t b = 0; b <= a; ++b) {
                const DD v{sign * m.GetElem(fvKept[a], fvKept[b]),
                           sign * m.GetElemLow(fvKept[a], fvKept[b])};
                g[a * k + b] = g[b * k + a] = v;
            }
        // T^-1 is the steps' inverses in the reverse order: the first
        // step's applies first, on the rows and then on the columns.
        const auto apply = [&](bool rows) {
            const auto at = [&](std::size_t i, std::size_t j) -> DD& {
                return rows ? g[i * k + j] : g[j * k + i];
            };
            for (int step = 1; step <= fSteps; ++step)
                for (std::size_t c = 0; c < k; ++c) {
                    if (fvStep[c] != step) continue;
                    for (const auto& [u, coef] : fvUnit[c]) {
                        const double f = fvShift[c] * coef;
                        for (std::size_t j = 0; j < k; ++j)
                            at(Ix(u), j) =
                                DoubleDouble::Add(at(Ix(u), j), DoubleDouble::Mul(at(c, j), f));
                    }
                }
        };
        apply(true);
        apply(false);
        for (std::size_t e = 0; e < k * k; ++e) fvBread[e] = g[e].hi + g[e].lo;
    }
    fvPos.assign(k, -1);
    if (fType != kCluster) fvMeat.assign(k * (k + 1), 0.0);
    for (MCClusterSums& g : fvGroupings)
        if (!g.Reset(fK, fSingleRuns > 0 && fvGroupings.size() == 1)) return false;
    fvCols.assign(k, 0);
    fvVals.assign(k, 0.0);
    fNSources = 0;
    fvPatStart.clear();
    fvPatSums.clear();
    fvPatLeverage.clear();
    return true;
}

bool MCSandwich::Add(const int* idx, const double* x, int nnz, double omega, double leverageWeight,
                     double clusterWeight, const double* clusterKeys, long recordNo,
                     MCStatus& status) {
    const std::size_t k = Ix(fK);
    const bool centring = fbCentred && !fbCentringGiven;
    int m = 0;
    for (int i = 0; i < nnz; ++i) {
        if (idx[i] < 0 || idx[i] >= fP) continue;
        const int c = fvCompact[Ix(idx[i])];
        // A centred column is not zero where its value is: it is minus its
        // shift there (a timestamp column with one record at 0).
        if (c < 0 || (x[i] == 0.0 && !(centring && !fvUnit[Ix(c)].empty()))) continue;
        fvCols[Ix(m)] = c;
        fvVals[Ix(m)] = x[i];
        ++m;
    }
    if (centring) {
        // The centred score: a centred entry less its shift times its unit's
        // entry, step by step, so that a unit that is centred itself is
        // read centred.
        for (int i = 0; i < m; ++i) fvPos[Ix(fvCols[Ix(i)])] = i;
        for (int step = 1; step <= fSteps; ++step)
            for (int i = 0; i < m; ++i) {
                const std::size_t c = Ix(fvCols[Ix(i)]);
                if (fvStep[c] != step) continue;
                double unit = 0.0;
                for (const auto& [u, coef] : fvUnit[c])
                    if (fvPos[Ix(u)] >= 0) unit += coef * fvVals[Ix(fvPos[Ix(u)])];
                if (unit != 0.0) fvVals[Ix(i)] -= fvShift[c] * unit;
            }
        for (int i = 0; i < m; ++i) fvPos[Ix(fvCols[Ix(i)])] = -1;
    }
    if (fType == kCluster) return AddToClusters(m, clusterWeight, clusterKeys, status);
    if (fType == kHC2 || fType == kHC3) {
        double quad = 0.0;
        for (int i = 0; i < m; ++i) {
            const double* row = fvBread.data() + Ix(fvCols[Ix(i)]) * k;
            double s = 0.0;
            for (int j = 0; j < m; ++j) s += row[fvCols[Ix(j)]] * fvVals[Ix(j)];
            quad += fvVals[Ix(i)] * s;
        }
        if (!LeverageWeight(leverageWeight * quad, recordNo, omega, status)) return false;
    }
    for (int i = 0; i < m; ++i) {
        const double wi = omega * fvVals[Ix(i)];
        for (int j = 0; j <= i; ++j) {
            double* at = fvMeat.data() + 2 * Packed(Ix(fvCols[Ix(i)]), Ix(fvCols[Ix(j)]));
            DoubleDouble::Accumulate(at[0], at[1], wi * fvVals[Ix(j)], 0.0);
        }
    }
    return true;
}

bool MCSandwich::AddToClusters(int m, double clusterWeight, const double* clusterKeys,
                               MCStatus& status) {
    for (std::size_t d = 0; d < fvGroupings.size(); ++d) {
        const MCClusterSums::Key key = d == 0 ? MCClusterSums::Key(clusterKeys[0], 0.0)
                                       : d == 1
                                           ? MCClusterSums::Key(clusterKeys[1], 0.0)
                                           : MCClusterSums::Key(clusterKeys[0], clusterKeys[1]);
        if (!fvGroupings[d].Add(key, fvCols.data(), fvVals.data(), m, clusterWeight)) {
            status = ErrorStatus(StatusCode::kAllocationFailed);
            return false;
        }
    }
    return true;
}

bool MCSandwich::LeverageWeight(double h, long recordNo, double& omega, MCStatus& status) const {
    const double gap = 1.0 - h;
    if (!(gap > kLeverageOneGap)) {
        status = ErrorStatus(StatusCode::kLeverageOne);
        status.SetDiscreteDatum(1, recordNo);
        // Within the check's rounding of 1 it is said as the 1 it stands for.
        status.SetScaleDatum(1, std::fabs(gap) <= kLeverageOneGap ? 1.0 : h);
        return false;
    }
    omega /= fType == kHC2 ? gap : gap * gap;
    return true;
}

bool MCSandwich::SetPatterns(int nSources, const std::vector<std::size_t>& start,
                             const std::vector<int>& cols, const std::vector<int>& srcs) {
    fvPatStart.clear();
    fvPatSums.clear();
    fvPatLeverage.clear();
    fNSources = 0;
    if (fbCentred || nSources < 1 || start.empty() || start.back() != cols.size() ||
        cols.size() != srcs.size())
        return false;
    const std::size_t d = Ix(nSources), patterns = start.size() - 1, k = Ix(fK);
    try {
        fvPatStart.assign(1, 0);
        fvPatCols.clear();
        fvPatSrcs.clear();
        for (std::size_t q = 0; q < patterns; ++q) {
            // Only the kept parameters, in ascending order (the cells' are).
            int last = -1;
            for (std::size_t j = start[q]; j < start[q + 1]; ++j) {
                if (cols[j] < 0 || cols[j] >= fP || srcs[j] < 0 || srcs[j] >= nSources) {
                    fvPatStart.clear();
                    return false;
                }
                const int c = fvCompact[Ix(cols[j])];
                if (c < 0) continue;
                if (c <= last) {
                    fvPatStart.clear();
                    return false;
                }
                last = c;
                fvPatCols.push_back(c);
                fvPatSrcs.push_back(srcs[j]);
            }
            fvPatStart.push_back(fvPatCols.size());
        }
        if (fType != kCluster) fvPatSums.assign(patterns * d * (d + 1), 0.0);
        if (fType == kHC2 || fType == kHC3) {
            fvPatLeverage.assign(patterns * d * d, 0.0);
            for (std::size_t q = 0; q < patterns; ++q) {
                double* form = fvPatLeverage.data() + q * d * d;
                for (std::size_t a = fvPatStart[q]; a < fvPatStart[q + 1]; ++a) {
                    const double* row = fvBread.data() + Ix(fvPatCols[a]) * k;
                    double* to = form + Ix(fvPatSrcs[a]) * d;
                    for (std::size_t b = fvPatStart[q]; b < fvPatStart[q + 1]; ++b)
                        to[Ix(fvPatSrcs[b])] += row[fvPatCols[b]];
                }
            }
        }
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fvPatStart.clear();
        fvPatSums.clear();
        fvPatLeverage.clear();
        return false;
    }
    fNSources = nSources;
    return true;
}

bool MCSandwich::AddPattern(int q, const double* v, double omega, double leverageWeight,
                            double clusterWeight, const double* clusterKeys, long recordNo,
                            MCStatus& status) {
    const std::size_t d = Ix(fNSources), at = Ix(q);
    if (fType == kCluster) {
        int m = 0;
        for (std::size_t j = fvPatStart[at]; j < fvPatStart[at + 1]; ++j) {
            const double x = v[fvPatSrcs[j]];
            if (x == 0.0) continue;
            fvCols[Ix(m)] = fvPatCols[j];
            fvVals[Ix(m)] = x;
            ++m;
        }
        return AddToClusters(m, clusterWeight, clusterKeys, status);
    }
    if (fType == kHC2 || fType == kHC3) {
        const double* form = fvPatLeverage.data() + at * d * d;
        double quad = 0.0;
        for (std::size_t s = 0; s < d; ++s) {
            double t = 0.0;
            for (std::size_t u = 0; u < d; ++u) t += form[s * d + u] * v[u];
            quad += v[s] * t;
        }
        if (!LeverageWeight(leverageWeight * quad, recordNo, omega, status)) return false;
    }
    // The products of the sources, as Add forms those of the entries.
    double* sums = fvPatSums.data() + at * d * (d + 1);
    for (std::size_t s = 0; s < d; ++s) {
        if (v[s] == 0.0) continue;
        const double ws = omega * v[s];
        double* row = sums + s * (s + 1);
        for (std::size_t u = 0; u <= s; ++u)
            DoubleDouble::Accumulate(row[2 * u], row[2 * u + 1], ws * v[u], 0.0);
    }
    return true;
}

void MCSandwich::FlushPatterns() {
    if (fvPatSums.empty()) return;
    const std::size_t d = Ix(fNSources);
    for (std::size_t q = 0; q + 1 < fvPatStart.size(); ++q) {
        const double* sums = fvPatSums.data() + q * d * (d + 1);
        for (std::size_t a = fvPatStart[q]; a < fvPatStart[q + 1]; ++a) {
            const std::size_t sa = Ix(fvPatSrcs[a]);
            for (std::size_t b = fvPatStart[q]; b <= a; ++b) {
                const std::size_t sb = Ix(fvPatSrcs[b]);
                const double* pair = sums + 2 * (sa >= sb ? Packed(sa, sb) : Packed(sb, sa));
                if (pair[0] == 0.0 && pair[1] == 0.0) continue;
                double* to = fvMeat.data() + 2 * Packed(Ix(fvPatCols[a]), Ix(fvPatCols[b]));
                const DoubleDouble::DD sum =
                    DoubleDouble::Add(DoubleDouble::DD{to[0], to[1]}, {pair[0], pair[1]});
                to[0] = sum.hi;
                to[1] = sum.lo;
            }
        }
    }
    fvPatSums.clear();
}

bool MCSandwich::Merge(MCCommon_850::PassReducer& reducer) {
    if (fType != kCluster) {
        FlushPatterns();
        return reducer.SumExtended(fvMeat);
    }
    for (MCClusterSums& g : fvGroupings)
        if (!g.Merge(reducer)) return false;
    return true;
}

double MCSandwich::Meat(std::size_t a, std::size_t b) const {
    const std::size_t i = 2 * Packed(a, b);
    return fvMeat[i] + fvMeat[i + 1];
}

void MCSandwich::OrderCentring() {
    // A column's step is one past its centred units' (1 with none): the
    // longest chain below it, relaxed until it settles. A chain longer
    // than the columns has gone round a cycle, which no order of steps
    // can make: its columns, and those centred on them, stay as they are.
    const std::size_t k = Ix(fK);
    fvStep.assign(k, 0);
    for (std::size_t a = 0; a < k; ++a)
        if (!fvUnit[a].empty()) fvStep[a] = 1;
    const int longest = fK;
    for (int round = 0; round <= longest; ++round) {
        bool changed = false;
        for (std::size_t a = 0; a < k; ++a) {
            if (fvUnit[a].empty()) continue;
            int step = 1;
            for (const auto& uc : fvUnit[a]) step = std::max(step, fvStep[Ix(uc.first)] + 1);
            if (step != fvStep[a]) {
                fvStep[a] = step;
                changed = true;
            }
        }
        if (!changed) break;
    }
    fSteps = 0;
    for (std::size_t a = 0; a < k; ++a) {
        if (fvStep[a] > longest) {
            fvUnit[a].clear();
            fvStep[a] = 0;
        }
        fSteps = std::max(fSteps, fvStep[a]);
    }
}

void MCSandwich::Uncentre(std::vector<double>& v) const {
    // Full rows, since only the lower triangle was made.
    const std::size_t k = Ix(fK);
    for (std::size_t a = 0; a < k; ++a)
        for (std::size_t b = 0; b < a; ++b) v[b * k + a] = v[a * k + b];
    // A column of step s moves its unit's columns, of steps below s.
    for (int step = fSteps; step >= 1; --step) {
        MCUnitStage stage;
        for (std::size_t c = 0; c < k; ++c) {
            if (fvStep[c] != step) continue;
            for (const auto& [u, coef] : fvUnit[c])
                stage[u].emplace_back(static_cast<int>(c), fvShift[c] * coef);
        }
        ApplyUnitStage(
            stage, fK, [&](int i, int j) { return v[Ix(i) * k + Ix(j)]; },
            [&](int i, int j, double x) { v[Ix(i) * k + Ix(j)] = v[Ix(j) * k + Ix(i)] = x; });
    }
}

bool MCSandwich::ClipNegativeEigenvalues(std::vector<double>& v) const {
    const int k = fK;
    MCSymMatrix s(k);
    for (int a = 0; a < k; ++a)
        for (int b = 0; b <= a; ++b) s.SetElem(a, b, v[Ix(a) * Ix(k) + Ix(b)]);
    MCEigenValues eigen;
    std::vector<double> values;
    MCRectMatrix vectors;
    if (!eigen.Compute(s, 0.0) || !eigen.GetSorted(values, vectors)) return false;
    if (values.empty() || values.back() >= 0.0) return true;
    for (int a = 0; a < k; ++a)
        for (int b = 0; b <= a; ++b) {
            double sum = 0.0;
            for (int m = 0; m < k; ++m)
                if (values[Ix(m)] > 0.0)
                    sum += values[Ix(m)] * vectors.GetElem(m, a) * vectors.GetElem(m, b);
            v[Ix(a) * Ix(k) + Ix(b)] = sum;
        }
    return true;
}

MCStatus MCSandwich::Finish(double n, MCSymMatrix& cov) {
    const std::size_t k = Ix(fK);
    double factor = 1.0;
    if (fType == kCluster) {
        // Two columns are judged by the fewer clusters.
        long fewest = fvGroupings[0].Count();
        if (fvGroupings.size() > 1) fewest = std::min(fewest, fvGroupings[1].Count());
        if (fewest < 2) {
            MCStatus s = ErrorStatus(StatusCode::kOneCluster);
            s.SetDiscreteDatum(1, fewest);
            return s;
        }
        if (fvGroupings[0].IsRunsOnly() && fvGroupings[0].Count() != fSingleRuns)
            return ErrorStatus(StatusCode::kMissingInput);
        std::vector<double> plain(k * (k + 1) / 2, 0.0);
        for (std::size_t d = 0; d < fvGroupings.size(); ++d) {
            const double g = static_cast<double>(fvGroupings[d].Count());
            // A single intersection cluster adds nothing: G / (G - 1) * 0.
            const double adjust = g > 1.0 ? g / (g - 1.0) : 0.0;
            if (!fvGroupings[d].AddOuterProducts(d < 2 ? adjust : -adjust, plain))
                return ErrorStatus(StatusCode::kAllocationFailed);
        }
        fvMeat.assign(k * (k + 1), 0.0);
        for (std::size_t e = 0; e < plain.size(); ++e) fvMeat[2 * e] = plain[e];
        factor = (n - 1.0) / (n - fK);
    } else {
        FlushPatterns();
        if (fType == kHC1) factor = n / (n - fK);
    }
    // T = M G, then V = G T.
    std::vector<double> t(k * k, 0.0);
    for (std::size_t a = 0; a < k; ++a)
        for (std::size_t c = 0; c < k; ++c) {
            const double mac = Meat(a, c);
            if (mac == 0.0) continue;
            const double* g = fvBread.data() + c * k;
            double* out = t.data() + a * k;
            for (std::size_t b = 0; b < k; ++b) out[b] += mac * g[b];
        }
    std::vector<double> v(k * k, 0.0);
    for (std::size_t a = 0; a < k; ++a)
        for (std::size_t c = 0; c < k; ++c) {
            const double gac = fvBread[a * k + c];
            if (gac == 0.0) continue;
            const double* tc = t.data() + c * k;
            double* out = v.data() + a * k;
            for (std::size_t b = 0; b <= a; ++b) out[b] += gac * tc[b];
        }
    for (double& e : v) e *= factor;
    if (fbCentred) Uncentre(v);
    if (fvGroupings.size() > 1 && !ClipNegativeEigenvalues(v))
        return ErrorStatus(StatusCode::kAllocationFailed);
    if (!cov.Resize(fP)) return ErrorStatus(StatusCode::kAllocationFailed);
    cov.Zero();
    for (std::size_t a = 0; a < k; ++a)
        for (std::size_t b = 0; b <= a; ++b) cov.SetElem(fvKept[a], fvKept[b], v[a * k + b]);
    return MCStatus();
}

}  // namespace MCMath_850
