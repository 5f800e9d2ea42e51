#include "logistic/MCLogitCells.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "companion/DoubleDouble.h"
#include "companion/MCIndex.h"
#include "companion/MCSymBlockMatrix.h"
#include "logistic/MCLogitKernels.h"

namespace MCMath_850 {

namespace {

std::size_t Triangle(std::size_t n) {
    return n * (n + 1) / 2;
}

// Position of the pair (a, b) in a packed lower triangle.
std::size_t Pair(std::size_t a, std::size_t b) {
    return a >= b ? Triangle(a) + b : Triangle(b) + a;
}

}  // namespace

void MCLogitCells::Setup(int nLogits, int p) {
    fNLogits = nLogits > 0 ? Ix(nLogits) : 0;
    fP = p > 0 ? Ix(p) : 0;
    fvSlot.clear();
    fvCells.clear();
    fvTouched.clear();
    fDoubles = 0;
    fpCurrent = nullptr;
    fCurrent = -1;
    fPass = 0;
}

void MCLogitCells::NewPass() {
    for (std::size_t slot : fvTouched) {
        Cell& c = fvCells[slot];
        Clear(c);
    }
    fvTouched.clear();
    fpCurrent = nullptr;
    fCurrent = -1;
    ++fPass;
}

bool MCLogitCells::Has(int cell) const {
    return cell >= 0 && Ix(cell) < fvSlot.size() && fvSlot[Ix(cell)] >= 0;
}

int MCLogitCells::GetNSources() const {
    return fpCurrent != nullptr ? static_cast<int>(fpCurrent->fNSources) : 0;
}

bool MCLogitCells::Use(int cell, const std::vector<int>& columns, const std::vector<int>& sources,
                       int nSources, const std::vector<double>& estimates) {
    fpCurrent = nullptr;
    fCurrent = -1;
    if (cell < 0 || fNLogits == 0 || fP == 0) return false;
    const std::size_t id = Ix(cell);
    if (!Has(cell)) {
        if (nSources < 1 || columns.size() != sources.size()) return false;
        int previous = -1;
        for (std::size_t a = 0; a < columns.size(); ++a) {
            if (columns[a] <= previous || Ix(columns[a]) >= fP) return false;
            if (sources[a] < 0 || sources[a] >= nSources) return false;
            previous = columns[a];
        }
        const std::size_t s = Ix(nSources);
        // The sums as held, padded to whole half lanes: a cell of one
        // source holds twice the sums it uses.
        const std::size_t size =
            fNLogits * s + 2 * s +
            2 * (fNLogits * LaneWidth(s) + Triangle(fNLogits) * LaneWidth(Triangle(s)));
        if (fDoubles + size > kMaxDoubles) return false;
        try {
            if (fvSlot.size() <= id) fvSlot.resize(id + 1, -1);
            Cell c;
            c.fvColumns = columns;
            c.fvSources = sources;
            c.fNSources = s;
            c.fScoreWidth = LaneWidth(s);
            c.fPairWidth = LaneWidth(Triangle(s));
            c.fvCoef.assign(fNLogits * s, 0.0);
            c.fvAbsCoef.assign(s, 0.0);
            c.fvSums.assign(fNLogits * c.fScoreWidth + Triangle(fNLogits) * c.fPairWidth, 0.0);
            c.fvSumsLo.assign(c.fvSums.size(), 0.0);
            c.fvBounds.assign(s, 0.0);
            // A row's scratch (see Add), sized for every cell.
            if (fvValues.size() < c.fScoreWidth) fvValues.resize(c.fScoreWidth);
            if (fvPairs.size() < c.fPairWidth) fvPairs.resize(c.fPairWidth);
            fvCells.push_back(std::move(c));
        } catch (const std::bad_alloc&) {
            return false;
        }
        fvSlot[id] = static_cast<int>(fvCells.size() - 1);
        fDoubles += size;
    }
    const std::size_t slot = Ix(fvSlot[id]);
    Cell& c = fvCells[slot];
    if (c.fPass != fPass) {
        // The estimates of a cell's columns, summed by source, and the
        // largest of each column's estimates in size.
        std::fill(c.fvCoef.begin(), c.fvCoef.end(), 0.0);
        std::fill(c.fvAbsCoef.begin(), c.fvAbsCoef.end(), 0.0);
        for (std::size_t a = 0; a < c.fvColumns.size(); ++a) {
            const std::size_t t = Ix(c.fvSources[a]);
            double largest = 0.0;
            for (std::size_t k = 0; k < fNLogits; ++k) {
                const double b = estimates[k * fP + Ix(c.fvColumns[a])];
                c.fvCoef[k * c.fNSources + t] += b;
                largest = std::max(largest, std::fabs(b));
            }
            c.fvAbsCoef[t] += largest;
        }
        c.fCentreMagnitude = 0.0;
        for (std::size_t t = 0; t < c.fNSources && t < fvCentres.size(); ++t)
            c.fCentreMagnitude += std::fabs(fvCentres[t]) * c.fvAbsCoef[t];
        c.fPass = fPass;
    }
    if (!c.fbTouched) {
        c.fbTouched = true;
        fvTouched.push_back(slot);
    }
    fpCurrent = &c;
    fCurrent = static_cast<int>(slot);
    return true;
}

void MCLogitCells::Select(int current) {
    fCurrent = current;
    fpCurrent = current >= 0 ? &fvCells[Ix(current)] : nullptr;
}

double MCLogitCells::GetCentreMagnitude() const {
    return fpCurrent != nullptr ? fpCurrent->fCentreMagnitude : 0.0;
}

void MCLogitCells::Clear(Cell& c) {
    std::fill(c.fvSums.begin(), c.fvSums.end(), 0.0);
    std::fill(c.fvSumsLo.begin(), c.fvSumsLo.end(), 0.0);
    std::fill(c.fvBounds.begin(), c.fvBounds.end(), 0.0);
    c.fbTouched = false;
}

namespace {

// The logits and magnitude of a row of s sources (Eta); S, when not 0, is
// s known to the compiler, which then unrolls the loops. The operations
// and their order are the same either way.
template <std::size_t S>
bool CellEta(const double* z, std::size_t s, const double* coef, const double* absCoef,
             std::size_t nLogits, double* eta, double& magnitude) {
    if (S != 0) s = S;
    magnitude = 0.0;
    for (std::size_t t = 0; t < s; ++t) magnitude += std::fabs(z[t]) * absCoef[t];
    for (std::size_t k = 0; k < nLogits; ++k) {
        const double* logit = coef + k * s;
        double v = 0.0;
        for (std::size_t t = 0; t < s; ++t) v += z[t] * logit[t];
        if (!std::isfinite(v)) return false;
        eta[k] = v;
    }
    return true;
}

}  // namespace

bool MCLogitCells::Eta(const double* z, double* eta, double& magnitude, int& terms) const {
    const Cell& c = *fpCurrent;
    const std::size_t s = c.fNSources;
    terms = static_cast<int>(c.fvColumns.size() + s);
    const double* coef = c.fvCoef.data();
    const double* absCoef = c.fvAbsCoef.data();
    switch (s) {
        case 1:
            return CellEta<1>(z, s, coef, absCoef, fNLogits, eta, magnitude);
        case 2:
            return CellEta<2>(z, s, coef, absCoef, fNLogits, eta, magnitude);
        case 3:
            return CellEta<3>(z, s, coef, absCoef, fNLogits, eta, magnitude);
        case 4:
            return CellEta<4>(z, s, coef, absCoef, fNLogits, eta, magnitude);
        default:
            return CellEta<0>(z, s, coef, absCoef, fNLogits, eta, magnitude);
    }
}

namespace {

// A row's values and the products of their pairs, padded with zeros to
// the widths (whole half lanes) and its score bound factors added to bounds;
// S as in CellEta.
template <std::size_t S>
void CellRowValues(const double* z, std::size_t s, double boundCoef, double* bounds, double* values,
                   std::size_t valueWidth, double* pairs, std::size_t pairWidth) {
    if (S != 0) s = S;
    for (std::size_t t = 0; t < s; ++t) bounds[t] += boundCoef * std::fabs(z[t]);
    for (std::size_t u = 0; u < s; ++u) {
        values[u] = z[u];
        for (std::size_t t = 0; t <= u; ++t) pairs[Triangle(u) + t] = z[u] * z[t];
    }
    for (std::size_t u = s; u < valueWidth; ++u) values[u] = 0.0;
    for (std::size_t q = Triangle(s); q < pairWidth; ++q) pairs[q] = 0.0;
}

}  // namespace

void MCLogitCells::Add(const double* z, const double* scoreCoef, const double* infoCoef,
                       std::size_t nInfo, double boundCoef) {
    Cell& c = *fpCurrent;
    double* values = fvValues.data();
    double* pairs = fvPairs.data();
    double* bounds = c.fvBounds.data();
    switch (c.fNSources) {
        case 1:
            CellRowValues<1>(z, 1, boundCoef, bounds, values, c.fScoreWidth, pairs, c.fPairWidth);
            break;
        case 2:
            CellRowValues<2>(z, 2, boundCoef, bounds, values, c.fScoreWidth, pairs, c.fPairWidth);
            break;
        case 3:
            CellRowValues<3>(z, 3, boundCoef, bounds, values, c.fScoreWidth, pairs, c.fPairWidth);
            break;
        default:
            CellRowValues<0>(z, c.fNSources, boundCoef, bounds, values, c.fScoreWidth, pairs,
                             c.fPairWidth);
    }
    AddOuterTerms2(c.fvSums.data(), c.fvSumsLo.data(), scoreCoef, fNLogits, values, c.fScoreWidth,
                   infoCoef, std::min(nInfo, Triangle(fNLogits)), pairs, c.fPairWidth);
}

void MCLogitCells::Flush(std::vector<double>& scores, std::vector<double>& scoresLo,
                         std::vector<double>& scoreBounds, MCSymBlockMatrix& information) {
    for (std::size_t slot : fvTouched) {
        Cell& c = fvCells[slot];
        const std::size_t n = c.fvColumns.size();
        for (std::size_t k = 0; k < fNLogits; ++k)
            for (std::size_t a = 0; a < n; ++a) {
                const std::size_t to = k * fP + Ix(c.fvColumns[a]);
                const std::size_t from = k * c.fScoreWidth + Ix(c.fvSources[a]);
                double sum, error;
                DoubleDouble::TwoSum(scores[to], c.fvSums[from], sum, error);
                scores[to] = sum;
                scoresLo[to] += error + c.fvSumsLo[from];
            }
        for (std::size_t a = 0; a < n; ++a)
            scoreBounds[Ix(c.fvColumns[a])] += c.fvBounds[Ix(c.fvSources[a])];
        for (std::size_t j = 0; j < fNLogits; ++j)
            for (std::size_t l = 0; l <= j; ++l) {
                const std::size_t at = fNLogits * c.fScoreWidth + (Triangle(j) + l) * c.fPairWidth;
                const double* info = c.fvSums.data() + at;
                const double* errors = c.fvSumsLo.data() + at;
                for (std::size_t a = 0; a < n; ++a) {
                    const std::size_t sa = Ix(c.fvSources[a]);
                    // Within a diagonal block only the lower triangle is kept.
                    const std::size_t bEnd = j == l ? a + 1 : n;
                    for (std::size_t b = 0; b < bEnd; ++b) {
                        const std::size_t q = Pair(sa, Ix(c.fvSources[b]));
                        information.AddBlockElem(static_cast<int>(j), static_cast<int>(l),
                                                 c.fvColumns[a], c.fvColumns[b], info[q],
                                                 errors[q]);
                    }
                }
            }
        Clear(c);
    }
    fvTouched.clear();
    fpCurrent = nullptr;
    fCurrent = -1;
}

}  // namespace MCMath_850
