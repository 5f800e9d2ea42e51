#include "companion/MCSparseVector.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "companion/MCAllocationGuard.h"
#include "companion/MCDisplay.h"

namespace MCMath_850 {

bool MCSparseVector::Assign(const std::vector<int>& indices, const std::vector<double>& values,
                            int n) {
    fN = std::max(n, 0);
    fvIndices.clear();
    fvValues.clear();
    fbValid = false;
    if (indices.size() != values.size()) return false;
    int previous = -1;
    for (int i : indices) {
        if (i <= previous || i >= fN) return false;
        previous = i;
    }
    try {
        fvIndices.assign(indices.begin(), indices.end());
        fvValues.assign(values.begin(), values.end());
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        fvIndices.clear();
        fvValues.clear();
        return false;
    } catch (const std::length_error&) {
        MCCommon_850::RethrowInsideGuard();
        fvIndices.clear();
        fvValues.clear();
        return false;
    }
    fbValid = true;
    return true;
}

double MCSparseVector::Dot(const std::vector<double>& dense, int offset) const {
    double sum = 0.0;
    const double* base = dense.data() + offset;
    for (std::size_t e = 0; e < fvIndices.size(); ++e) sum += fvValues[e] * base[fvIndices[e]];
    return sum;
}

void MCSparseVector::IncrementPart(std::vector<double>& dense, int offset, double a) const {
    double* base = dense.data() + offset;
    for (std::size_t e = 0; e < fvIndices.size(); ++e) base[fvIndices[e]] += a * fvValues[e];
}

bool MCSparseVector::ComputeProbabilities(const std::vector<double>& beta, int nCategs,
                                          int blockSize, std::vector<double>& probabilities,
                                          double& logReference) const {
    if (!fbValid || nCategs < 1 || blockSize != fN) return false;
    const std::size_t nLogits = static_cast<std::size_t>(nCategs - 1);
    if (beta.size() < nLogits * static_cast<std::size_t>(blockSize)) return false;
    try {
        probabilities.resize(static_cast<std::size_t>(nCategs));
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    } catch (const std::length_error&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    // The linear predictors go into the output first; shifting them by their
    // maximum (the reference's 0 included) keeps every exponential in (0, 1].
    double largest = 0.0;
    for (std::size_t k = 0; k < nLogits; ++k) {
        const double eta = Dot(beta, static_cast<int>(k) * blockSize);
        if (!std::isfinite(eta)) return false;
        probabilities[k] = eta;
        largest = std::max(largest, eta);
    }
    probabilities[nLogits] = 0.0;
    double sum = 0.0;
    for (double& p : probabilities) {
        p = std::exp(p - largest);
        sum += p;
    }
    // sum >= 1 because the largest term is exp(0).
    for (double& p : probabilities) p /= sum;
    logReference = -largest - std::log(sum);
    return true;
}

void MCSparseVector::Display() const {
    using namespace MCDisplay_850;
    DisplayText("MCSparseVector display start");
    DisplayI("Dimension", fN);
    DisplayB("Valid", fbValid);
    DisplayIV("Indices", fvIndices);
    DisplayDV("Values", fvValues);
    DisplayText("MCSparseVector display end");
}

}  // namespace MCMath_850
