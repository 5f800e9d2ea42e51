#pragma once
#include <unordered_map>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "companion/PassReducer.h"

namespace MCMath_850 {

// The robust ("sandwich") covariance of a fitted general linear model,
// G M G, with G = (X'WX)^- the fit's generalised inverse and M the middle
// summed over the records of the residual pass:
//
//   HC0  sum fw rw^2 e^2 x x'             HC2  the terms over (1 - h)
//   HC1  HC0 * n / (n - k)                HC3  the terms over (1 - h)^2
//   cluster  sum over clusters of u u', u = sum in the cluster of fw rw e x,
//            times G / (G - 1) * (n - 1) / (n - k)
//
// where fw and rw are the frequency and regression weights, h = rw x'G x
// the record's leverage, n the total frequency weight (a frequency weight
// counts as that many copies of its record) and k the rank. Only the
// parameters that are not aliased take part; the others get zero rows and
// columns. Memory: G and M over the kept parameters, plus one slot of k
// numbers per cluster.
class MCGLMSandwich {
public:
    // type: an MCConst::MCRobustType; clusterVar: the record position of
    // the cluster column (cluster type only).
    MCGLMSandwich(int type, int clusterVar);
    MCGLMSandwich(const MCGLMSandwich&) = delete;
    MCGLMSandwich& operator=(const MCGLMSandwich&) = delete;

    // Takes the bread from the swept matrix, whose leading p x p block is
    // -G; kept marks the parameters that are not aliased. False when memory
    // runs out.
    bool Start(const MCSymMatrix& swept, const MCBitSet& kept, int p);
    // One record of the residual pass: the non-zero columns of its design
    // row (parameter indices and values), its weights and residual, its
    // values (for the cluster) and its number in the pass (for messages).
    // False with status 337 for a record of leverage 1 under HC2 or HC3.
    bool Add(const int* idx, const double* x, int nnz, double fw, double rw, double e,
             const double* values, long recordNo, MCCommon_850::MCStatus& status);
    // The middles of all the processes of a split fit summed (HC types).
    bool Merge(MCCommon_850::PassReducer& reducer);
    // cov (order p) receives the covariance; n is the total frequency
    // weight. Error 338 with fewer than two clusters.
    MCCommon_850::MCStatus Finish(double n, MCSymMatrix& cov);
    long GetNClusters() const { return static_cast<long>(fClusterSlot.size()); }
    bool IsClustered() const { return fClusterVar >= 0; }

private:
    // The middle is summed in double-double: a fit split over processes
    // adds its records in another order, and the tests invert L V L'.
    void AddMeat(std::size_t a, std::size_t b, double v);
    double Meat(std::size_t a, std::size_t b) const;
    static std::size_t Packed(std::size_t a, std::size_t b) {
        return a >= b ? a * (a + 1) / 2 + b : b * (b + 1) / 2 + a;
    }

    int fType;
    int fClusterVar;
    int fP = 0;
    int fK = 0;
    std::vector<int> fvCompact;   // per parameter: its index among the kept, or -1
    std::vector<int> fvKept;      // the kept parameters
    std::vector<double> fvBread;  // G over the kept, k x k row by row
    std::vector<double> fvMeat;   // M over the kept, lower triangle packed, (hi, lo) pairs
    std::unordered_map<double, std::size_t> fClusterSlot;
    std::vector<double> fvClusterSums;  // k numbers per cluster
    // Scratch of one record: its kept columns and values.
    std::vector<int> fvCols;
    std::vector<double> fvVals;
};

}  // namespace MCMath_850
