#pragma once
#include <vector>

namespace MCMath_850 {

// A sparse vector of dimension n: the values at strictly ascending indices
// 0..n-1, every other element 0. It keeps its storage between Assign calls,
// so a pass that reuses one object allocates only for its longest row.
//
// The vector is valid when the index and value lists have the same length
// and the indices are strictly ascending within 0..n-1; an invalid vector
// holds no entries. Values are not checked: a non-finite value shows up as a
// failure of the operations that need finite results (ComputeProbabilities).
class MCSparseVector {
public:
    MCSparseVector() = default;
    MCSparseVector(const std::vector<int>& indices, const std::vector<double>& values, int n) {
        Assign(indices, values, n);
    }

    // Replaces the contents; returns IsValid(). False also when the storage
    // cannot be obtained.
    bool Assign(const std::vector<int>& indices, const std::vector<double>& values, int n);

    bool IsValid() const { return fbValid; }
    int GetDimension() const { return fN; }
    int GetNNonZero() const { return static_cast<int>(fvIndices.size()); }
    const std::vector<int>& GetIndices() const { return fvIndices; }
    const std::vector<double>& GetValues() const { return fvValues; }

    // x . dense[offset .. offset + n - 1]; dense must hold offset + n values.
    double Dot(const std::vector<double>& dense, int offset) const;
    // dense[offset + i] += a * x_i for the stored entries.
    void IncrementPart(std::vector<double>& dense, int offset, double a) const;

    // Multinomial-logit probabilities at the coefficients beta, laid out as
    // nCategs - 1 consecutive blocks of blockSize (block k: the coefficients
    // of category k against the last, reference category). With
    // eta_k = x . beta_k for k < nCategs - 1 and eta_ref = 0, probabilities
    // (resized to nCategs) gets exp(eta_k) / sum_m exp(eta_m) and logReference
    // the log of the reference probability, both computed without overflow.
    // False (outputs unspecified) when the vector is invalid, nCategs < 1,
    // blockSize differs from the dimension, beta is too short or an eta is
    // not finite.
    bool ComputeProbabilities(const std::vector<double>& beta, int nCategs, int blockSize,
                              std::vector<double>& probabilities, double& logReference) const;

    void Display() const;

private:
    int fN = 0;
    std::vector<int> fvIndices;
    std::vector<double> fvValues;
    bool fbValid = true;
};

}  // namespace MCMath_850
