#include "companion/MCSandwich.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/MCEigenValues.h"
#include "companion/MCIndex.h"
#include "companion/MCRectMatrix.h"
#include "companion/MCStatusCodes.h"

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

bool MCSandwich::Start(const MCSymMatrix& m, double sign, const MCBitSet& kept, int p) {
    try {
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
        fvBread.assign(k * k, 0.0);
        for (std::size_t a = 0; a < k; ++a)
            for (std::size_t b = 0; b <= a; ++b) {
                const double g = sign * m.GetElem(fvKept[a], fvKept[b]);
                fvBread[a * k + b] = fvBread[b * k + a] = g;
            }
        if (fType != kCluster) fvMeat.assign(k * (k + 1), 0.0);
        for (Grouping& g : fvGroupings) {
            g.fSlot.clear();
            g.fvSums.clear();
            g.fLastSlot = static_cast<std::size_t>(-1);
        }
        fvCols.assign(k, 0);
        fvVals.assign(k, 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool MCSandwich::Add(const int* idx, const double* x, int nnz, double omega, double leverageWeight,
                     double clusterWeight, const double* clusterKeys, long recordNo,
                     MCStatus& status) {
    const std::size_t k = Ix(fK);
    int m = 0;
    for (int i = 0; i < nnz; ++i) {
        if (idx[i] < 0 || idx[i] >= fP) continue;
        const int c = fvCompact[Ix(idx[i])];
        if (c < 0 || x[i] == 0.0) continue;
        fvCols[Ix(m)] = c;
        fvVals[Ix(m)] = x[i];
        ++m;
    }
    if (fType == kCluster) {
        for (std::size_t d = 0; d < fvGroupings.size(); ++d) {
            Grouping& g = fvGroupings[d];
            const std::pair<double, double> key =
                d == 0   ? std::make_pair(clusterKeys[0], 0.0)
                : d == 1 ? std::make_pair(clusterKeys[1], 0.0)
                         : std::make_pair(clusterKeys[0], clusterKeys[1]);
            const bool same = g.fLastSlot != static_cast<std::size_t>(-1) && key == g.fLastKey;
            const auto found = same ? g.fSlot.end() : g.fSlot.find(key);
            std::size_t slot;
            if (same) {
                slot = g.fLastSlot;
            } else if (found == g.fSlot.end()) {
                try {
                    slot = g.fSlot.size();
                    g.fSlot.emplace(key, slot);
                    g.fvSums.resize(g.fvSums.size() + 2 * k, 0.0);
                } catch (const std::bad_alloc&) {
                    status = ErrorStatus(StatusCode::kAllocationFailed);
                    return false;
                }
            } else {
                slot = found->second;
            }
            g.fLastKey = key;
            g.fLastSlot = slot;
            // (hi, lo) pairs: a cluster's scores nearly cancel (the
            // residuals are orthogonal to the design), and a split fit adds
            // them in another order.
            double* u = g.fvSums.data() + slot * 2 * k;
            for (int i = 0; i < m; ++i) {
                double* at = u + 2 * Ix(fvCols[Ix(i)]);
                DoubleDouble::Accumulate(at[0], at[1], clusterWeight * fvVals[Ix(i)], 0.0);
            }
        }
        return true;
    }
    if (fType == kHC2 || fType == kHC3) {
        double quad = 0.0;
        for (int i = 0; i < m; ++i) {
            const double* row = fvBread.data() + Ix(fvCols[Ix(i)]) * k;
            double s = 0.0;
            for (int j = 0; j < m; ++j) s += row[fvCols[Ix(j)]] * fvVals[Ix(j)];
            quad += fvVals[Ix(i)] * s;
        }
        const double h = leverageWeight * quad;
        const double gap = 1.0 - h;
        if (!(gap > kLeverageOneGap)) {
            status = ErrorStatus(StatusCode::kLeverageOne);
            status.SetDiscreteDatum(1, recordNo);
            status.SetScaleDatum(1, h);
            return false;
        }
        omega /= fType == kHC2 ? gap : gap * gap;
    }
    for (int i = 0; i < m; ++i) {
        const double wi = omega * fvVals[Ix(i)];
        for (int j = 0; j <= i; ++j)
            AddMeat(Ix(fvCols[Ix(i)]), Ix(fvCols[Ix(j)]), wi * fvVals[Ix(j)]);
    }
    return true;
}

bool MCSandwich::Merge(MCCommon_850::PassReducer& reducer) {
    if (fType != kCluster) return reducer.SumExtended(fvMeat);
    for (Grouping& g : fvGroupings)
        if (!MergeGrouping(g, reducer)) return false;
    return true;
}

bool MCSandwich::MergeGrouping(Grouping& g, MCCommon_850::PassReducer& reducer) const {
    // Every process learns every key, numbers the union in key order and
    // puts its sums in their slots; the slots are then summed.
    const std::size_t k = Ix(fK);
    std::vector<int> mine;
    bool whole = true;
    for (const auto& entry : g.fSlot) {
        const double a = entry.first.first, b = entry.first.second;
        whole = whole && a == static_cast<double>(static_cast<int>(a)) &&
                b == static_cast<double>(static_cast<int>(b));
        mine.push_back(static_cast<int>(a));
        mine.push_back(static_cast<int>(b));
    }
    std::vector<double> flag{whole ? 0.0 : 1.0};
    if (!reducer.Sum(flag) || flag[0] > 0.0) return false;
    std::vector<std::vector<int>> all;
    if (!reducer.Gather(mine, all)) return false;
    std::vector<std::pair<int, int>> keys;
    for (const std::vector<int>& part : all)
        for (std::size_t i = 0; i + 1 < part.size(); i += 2)
            keys.emplace_back(part[i], part[i + 1]);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::vector<double> sums(keys.size() * 2 * k, 0.0);
    for (const auto& entry : g.fSlot) {
        const std::pair<int, int> key(static_cast<int>(entry.first.first),
                                      static_cast<int>(entry.first.second));
        const std::size_t at = static_cast<std::size_t>(
            std::lower_bound(keys.begin(), keys.end(), key) - keys.begin());
        std::copy(g.fvSums.begin() + static_cast<std::ptrdiff_t>(entry.second * 2 * k),
                  g.fvSums.begin() + static_cast<std::ptrdiff_t>((entry.second + 1) * 2 * k),
                  sums.begin() + static_cast<std::ptrdiff_t>(at * 2 * k));
    }
    if (!reducer.SumExtended(sums)) return false;
    g.fSlot.clear();
    g.fLastSlot = static_cast<std::size_t>(-1);  // the slots are numbered anew
    for (std::size_t i = 0; i < keys.size(); ++i)
        g.fSlot.emplace(
            std::make_pair(static_cast<double>(keys[i].first), static_cast<double>(keys[i].second)),
            i);
    g.fvSums = std::move(sums);
    return true;
}

void MCSandwich::AddMeat(std::size_t a, std::size_t b, double v) {
    const std::size_t i = 2 * Packed(a, b);
    DoubleDouble::Accumulate(fvMeat[i], fvMeat[i + 1], v, 0.0);
}

double MCSandwich::Meat(std::size_t a, std::size_t b) const {
    const std::size_t i = 2 * Packed(a, b);
    return fvMeat[i] + fvMeat[i + 1];
}

void MCSandwich::AddClusterMeat(const Grouping& g, double weight,
                                std::vector<double>& plain) const {
    // Each cluster's sum touches only its non-zero entries. The clusters
    // are taken in key order, so that a split fit, whose processes all hold
    // the merged sums, adds them as one process does.
    const std::size_t k = Ix(fK);
    std::vector<std::pair<std::pair<double, double>, std::size_t>> order(g.fSlot.begin(),
                                                                         g.fSlot.end());
    std::sort(order.begin(), order.end());
    std::vector<std::size_t> nz;
    nz.reserve(k);
    std::vector<double> u(k, 0.0);
    for (const auto& entry : order) {
        const double* pairs = g.fvSums.data() + entry.second * 2 * k;
        nz.clear();
        for (std::size_t a = 0; a < k; ++a) {
            u[a] = pairs[2 * a] + pairs[2 * a + 1];
            if (u[a] != 0.0) nz.push_back(a);
        }
        for (std::size_t i = 0; i < nz.size(); ++i) {
            double* row = plain.data() + nz[i] * (nz[i] + 1) / 2;
            const double ua = weight * u[nz[i]];
            for (std::size_t j = 0; j <= i; ++j) row[nz[j]] += ua * u[nz[j]];
        }
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
    try {
        if (fType == kCluster) {
            // Two columns are judged by the fewer clusters.
            std::size_t fewest = fvGroupings[0].fSlot.size();
            if (fvGroupings.size() > 1) fewest = std::min(fewest, fvGroupings[1].fSlot.size());
            if (fewest < 2) {
                MCStatus s = ErrorStatus(StatusCode::kOneCluster);
                s.SetDiscreteDatum(1, static_cast<long>(fewest));
                return s;
            }
            std::vector<double> plain(k * (k + 1) / 2, 0.0);
            for (std::size_t d = 0; d < fvGroupings.size(); ++d) {
                const double g = static_cast<double>(fvGroupings[d].fSlot.size());
                // A single intersection cluster adds nothing: G / (G - 1) * 0.
                const double adjust = g > 1.0 ? g / (g - 1.0) : 0.0;
                AddClusterMeat(fvGroupings[d], d < 2 ? adjust : -adjust, plain);
            }
            fvMeat.assign(k * (k + 1), 0.0);
            for (std::size_t e = 0; e < plain.size(); ++e) fvMeat[2 * e] = plain[e];
            factor = (n - 1.0) / (n - fK);
        } else if (fType == kHC1) {
            factor = n / (n - fK);
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
        if (fvGroupings.size() > 1 && !ClipNegativeEigenvalues(v))
            return ErrorStatus(StatusCode::kAllocationFailed);
        if (!cov.Resize(fP)) return ErrorStatus(StatusCode::kAllocationFailed);
        cov.Zero();
        for (std::size_t a = 0; a < k; ++a)
            for (std::size_t b = 0; b <= a; ++b) cov.SetElem(fvKept[a], fvKept[b], v[a * k + b]);
    } catch (const std::bad_alloc&) {
        return ErrorStatus(StatusCode::kAllocationFailed);
    }
    return MCStatus();
}

}  // namespace MCMath_850
