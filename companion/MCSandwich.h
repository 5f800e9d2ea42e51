#pragma once
#include <unordered_map>
#include <utility>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCStatus.h"
#include "companion/MCSymMatrix.h"
#include "companion/PassReducer.h"

namespace MCMath_850 {

// A robust ("sandwich") covariance G M G of estimates with bread G (the
// generalised inverse of a model's information) and middle M summed over
// the records, each adding its score vector s (the non-zero entries of a
// sparse vector over the parameters):
//
//   HC0  sum omega s s'                 HC2  each term over (1 - h)
//   HC1  HC0 * n / (n - k)              HC3  each term over (1 - h)^2
//   cluster  sum over clusters of u u', u = sum in the cluster of c s,
//            times G / (G - 1) * (n - 1) / (n - k)
//
// where omega and c are the record's weights of its term, h = v s'G s its
// leverage with v its leverage weight, n the number of records (a
// frequency weight counts as that many copies) and k the rank. For least
// squares s = x, omega = fw rw^2 e^2, v = rw, c = fw rw e; for a
// multinomial logit s = x (x) (y - p) and omega = c = fw. Only the
// parameters that are not aliased take part; the others get zero rows and
// columns. Memory: G and M over the kept parameters, plus one slot of k
// numbers per cluster.
//
// Two cluster columns A and B (Cameron, Gelbach and Miller): the middles of
// A, of B and of their intersections, each with its own G / (G - 1),
// combined as M_A + M_B - M_AB; a covariance that this leaves with negative
// eigenvalues has them set to 0 (sandwich's vcovCL(fix = TRUE)).
class MCSandwich {
public:
    // The estimators, numbered as the settings' MCConst::MCRobustType.
    enum Type : int { kHC0 = 0, kHC1 = 1, kHC2 = 2, kHC3 = 3, kCluster = 4 };

    // clusterColumns: 1 or 2 (cluster type only).
    explicit MCSandwich(int type, int clusterColumns = 1);
    MCSandwich(const MCSandwich&) = delete;
    MCSandwich& operator=(const MCSandwich&) = delete;

    // Takes the bread sign * m over the leading p x p block of m (a swept
    // matrix holds -G: sign -1); kept marks the parameters that are not
    // aliased. False when memory runs out.
    bool Start(const MCSymMatrix& m, double sign, const MCBitSet& kept, int p);
    // One record: its score's non-zero entries (parameter indices and
    // values), its weights (see above), its clusters' keys (one per cluster
    // column) and its number in the pass (for messages). False with status
    // 337 for a record of leverage 1 under HC2 or HC3.
    bool Add(const int* idx, const double* s, int nnz, double omega, double leverageWeight,
             double clusterWeight, const double* clusterKeys, long recordNo,
             MCCommon_850::MCStatus& status);
    // The middles of all the processes of a split fit summed; with
    // clusters, each cluster's sums by its key, whichever processes hold
    // its records (keys must then be whole numbers, the same cluster's the
    // same on every process). False when the reducer fails or a key is not
    // a whole number.
    bool Merge(MCCommon_850::PassReducer& reducer);
    // cov (order p) receives the covariance; n is the total frequency
    // weight. Error 338 with fewer than two clusters.
    MCCommon_850::MCStatus Finish(double n, MCSymMatrix& cov);
    // The clusters of cluster column c.
    long GetNClusters(int c = 0) const {
        return c < static_cast<int>(fvGroupings.size()) && c < 2
                   ? static_cast<long>(fvGroupings[static_cast<std::size_t>(c)].fSlot.size())
                   : 0;
    }
    bool IsClustered() const { return fType == kCluster; }

private:
    // The middle is summed in double-double: a fit split over processes
    // adds its records in another order, and the tests invert L V L'.
    void AddMeat(std::size_t a, std::size_t b, double v);
    double Meat(std::size_t a, std::size_t b) const;
    static std::size_t Packed(std::size_t a, std::size_t b) {
        return a >= b ? a * (a + 1) / 2 + b : b * (b + 1) / 2 + a;
    }

    struct KeyHash {
        std::size_t operator()(const std::pair<double, double>& k) const {
            return std::hash<double>()(k.first) * 1000003u ^ std::hash<double>()(k.second);
        }
    };
    // The clusters of one column, or of the intersections of two: a slot
    // of k double-double sums per cluster.
    struct Grouping {
        std::unordered_map<std::pair<double, double>, std::size_t, KeyHash> fSlot;
        std::vector<double> fvSums;
        // The last record's cluster: records usually come cluster by
        // cluster, and then most need no look-up.
        std::pair<double, double> fLastKey;
        std::size_t fLastSlot = static_cast<std::size_t>(-1);
    };
    bool MergeGrouping(Grouping& g, MCCommon_850::PassReducer& reducer) const;
    // Adds each cluster's u u' (u its non-zero entries) times weight.
    void AddClusterMeat(const Grouping& g, double weight, std::vector<double>& plain) const;
    // Negative eigenvalues of v (k x k, lower triangle) set to 0.
    bool ClipNegativeEigenvalues(std::vector<double>& v) const;

    int fType;
    std::vector<Grouping> fvGroupings;  // A; or A, B and A by B
    int fP = 0;
    int fK = 0;
    std::vector<int> fvCompact;   // per parameter: its index among the kept, or -1
    std::vector<int> fvKept;      // the kept parameters
    std::vector<double> fvBread;  // G over the kept, k x k row by row
    std::vector<double> fvMeat;   // M over the kept, lower triangle packed, (hi, lo) pairs
    // Scratch of one record: its kept columns and values.
    std::vector<int> fvCols;
    std::vector<double> fvVals;
};

}  // namespace MCMath_850
