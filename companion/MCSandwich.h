#pragma once
#include <cstddef>
#include <utility>
#include <vector>

#include "companion/MCBitSet.h"
#include "companion/MCClusterSums.h"
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
// columns. Memory: G and M over the kept parameters, plus per cluster the
// entries its records touch (k numbers for a cluster whose records are not
// all together, see MCClusterSums; nothing when every cluster is known to
// come in one run); with patterns, their sums.
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

    // Before Start: the records of each of the runs clusters come in one
    // run (as an earlier pass found, see MCClusterRuns) and the fit is not
    // split, so that one cluster column's sums need not be kept past their
    // run. Finish refuses (303) a pass that then meets another number of
    // runs: the data changed between the passes.
    void SetSingleRuns(long runs) { fSingleRuns = runs; }
    // Before Start: parameter j's column is to enter centred, less
    // centre[j] times the combination unit[j] of other columns (parameter
    // and coefficient pairs: the intercept, or the indicator of j's cell,
    // or the kept columns that indicator is aliased with; for a product of
    // covariates, its lower-order columns), read as they enter: a column
    // of the combination that is centred itself enters first, so that
    // x*x may be centred on x less its mean. A combination that comes back
    // to its own column, an empty combination or a centre of 0 leaves the
    // column as it is. With a covariate far from zero the terms of G M G
    // are many orders larger than its elements, which double arithmetic
    // then loses; centred, the sandwich is that of a well-conditioned
    // design, carried back to the model's parameters by the exact map
    // between the two. The middle is then summed record by record
    // (SetPatterns declines), so the caller centres only the columns whose
    // digits need it.
    using Combination = std::vector<std::pair<int, double>>;
    // given: the bread handed to Start and the scores handed to Add are
    // those of the centred design already (a fit made on it); the result
    // is still carried back, before any negative eigenvalues are cleared.
    void SetCentring(const std::vector<Combination>& unit, const std::vector<double>& centre,
                     bool given = false);
    // Takes the bread sign * m over the leading p x p block of m (a swept
    // matrix holds -G: sign -1); kept marks the parameters that are not
    // aliased. Throws std::bad_alloc when memory runs out.
    bool Start(const MCSymMatrix& m, double sign, const MCBitSet& kept, int p);
    // One record: its score's non-zero entries (parameter indices and
    // values), its weights (see above), its clusters' keys (one per cluster
    // column) and its number in the pass (for messages). False with status
    // 337 for a record of leverage 1 under HC2 or HC3.
    bool Add(const int* idx, const double* s, int nnz, double omega, double leverageWeight,
             double clusterWeight, const double* clusterKeys, long recordNo,
             MCCommon_850::MCStatus& status);
    // Records of a few patterns (a general linear model's cells), after
    // Start: the score of a record of pattern q puts its source value
    // v[srcs[j]] (one of nSources) on parameter cols[j], for j from start[q]
    // to start[q + 1]. The middle then sums per pattern the products of
    // the sources, nSources (nSources + 1) / 2 of them, and a leverage is a
    // quadratic form in the sources. False (patterns unused) when memory
    // runs out.
    bool SetPatterns(int nSources, const std::vector<std::size_t>& start,
                     const std::vector<int>& cols, const std::vector<int>& srcs);
    // One record of pattern q (0 <= q < the patterns) with source values v,
    // as Add.
    bool AddPattern(int q, const double* v, double omega, double leverageWeight,
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
        return c >= 0 && c < static_cast<int>(fvGroupings.size()) && c < 2
                   ? fvGroupings[static_cast<std::size_t>(c)].Count()
                   : 0;
    }
    bool IsClustered() const { return fType == kCluster; }

private:
    // The middle is summed in double-double: a fit split over processes
    // adds its records in another order, and the tests invert L V L'.
    double Meat(std::size_t a, std::size_t b) const;
    static std::size_t Packed(std::size_t a, std::size_t b) {
        return a >= b ? a * (a + 1) / 2 + b : b * (b + 1) / 2 + a;
    }

    // The record's kept entries (fvCols, fvVals) to the clusters.
    bool AddToClusters(int m, double clusterWeight, const double* clusterKeys,
                       MCCommon_850::MCStatus& status);
    // The weight of a record's middle term under HC2 and HC3 from its
    // leverage h; false with status 337 when h is 1.
    bool LeverageWeight(double h, long recordNo, double& omega,
                        MCCommon_850::MCStatus& status) const;
    // The patterns' sums added to the middle, once.
    void FlushPatterns();
    // Negative eigenvalues of v (k x k, lower triangle) set to 0.
    bool ClipNegativeEigenvalues(std::vector<double>& v) const;
    // The steps of the centring (fvStep) from the combinations fvUnit.
    void OrderCentring();
    // v (k x k, the lower triangle read) from the centred parameters to the
    // model's: T v T' for the centring T.
    void Uncentre(std::vector<double>& v) const;

    int fType;
    std::vector<MCClusterSums> fvGroupings;  // A; or A, B and A by B
    long fSingleRuns = 0;                    // 0: not known to come in single runs
    int fP = 0;
    int fK = 0;
    std::vector<int> fvCompact;   // per parameter: its index among the kept, or -1
    std::vector<int> fvKept;      // the kept parameters
    std::vector<double> fvBread;  // G over the kept, k x k row by row
    std::vector<double> fvMeat;   // M over the kept, lower triangle packed, (hi, lo) pairs
    // The centring by parameter (SetCentring), and by kept parameter: the
    // unit's index among the kept (-1: not centred) and the centre.
    std::vector<Combination> fvCentreUnit;
    std::vector<double> fvCentre;
    std::vector<Combination> fvUnit;  // by kept parameter, over the kept
    std::vector<double> fvShift;
    // By kept parameter, the step of the centring it enters in (0: not
    // centred; a centred column's units enter at earlier steps), and the
    // last step.
    std::vector<int> fvStep;
    int fSteps = 0;
    bool fbCentred = false;
    bool fbCentringGiven = false;
    std::vector<int> fvPos;  // scratch of Add: an entry's place in the record, or -1
    // Scratch of one record: its kept columns and values.
    std::vector<int> fvCols;
    std::vector<double> fvVals;
    // Patterns: per pattern its kept entries' columns (among the kept
    // parameters) and sources, from fvPatStart; the sums of the products
    // of its sources ((hi, lo) pairs, packed); under HC2 and HC3 the
    // bread's quadratic form in its sources (nSources^2).
    int fNSources = 0;
    std::vector<std::size_t> fvPatStart;
    std::vector<int> fvPatCols;
    std::vector<int> fvPatSrcs;
    std::vector<double> fvPatSums;
    std::vector<double> fvPatLeverage;
};

}  // namespace MCMath_850
