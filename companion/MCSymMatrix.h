#pragma once
#include <utility>
#include <vector>

#include "companion/DoubleDouble.h"
#include "companion/MCBitSet.h"
#include "companion/MCExport.h"
#include "companion/PassReducer.h"

namespace MCMath_850 {

class MCRectMatrix;
class MCCancelInfo;

// A symmetric n x n matrix holding its lower triangle packed row by row:
// element (j, k), k <= j, sits at j(j+1)/2 + k of AsVector(). Accessors take
// (j, k) in either order.
//
// Extended precision. Beside every packed double (the high part) the matrix
// keeps a low part so that hi + lo carries about 32 significant digits.
// UpdateXX/UpdateXXSparse add exact products to compensated sums, and Sweep
// works on hi + lo in extended precision, which is what regression on
// ill-conditioned cross-product matrices needs. hi is always hi + lo rounded
// to double, so the const AsVector() and GetElem() read correctly rounded
// values. SetElem clears the low part of the element it writes; the
// non-const AsVector() clears all low parts, since writes through it cannot
// be tracked. The other operations (products, Cholesky, inverses) work on
// the rounded values and leave the low parts zero where they write.
//
// Sweep convention. Sweeping pivot k with a = a_kk replaces
//   a_kk <- -1/a,  a_ik <- a_ik / a (i != k),  a_ij <- a_ij - a_ik a_kj / a,
// and sets bit k of the pivot set. Sweeping a pivot whose bit is already
// set undoes that sweep (the reverse sweep a_kk <- -1/a, a_ik <- -a_ik / a,
// a_ij <- a_ij - a_ik a_kj / a) and clears the bit, so sweeping k twice
// restores the matrix. After [X y]'W[X y] is swept on the pivot set S,
// the S x S block is -(X_S'W X_S)^-1, the S x y column holds the regression
// coefficients of y on X_S, the y x y element the residual sum of squares,
// and for an unswept column r the S x r block holds the coefficients of X_r
// regressed on X_S.
//
// Errors are reported by the results (false, -1, the missing value); nothing
// throws. Methods that allocate report a failed allocation the same way.
class MCREG_API MCSymMatrix {
public:
    MCSymMatrix() = default;
    // n x n zeros (negative n counts as 0).
    explicit MCSymMatrix(int n);
    MCSymMatrix(const MCSymMatrix& other) = default;
    MCSymMatrix& operator=(const MCSymMatrix& other) = default;
    MCSymMatrix(MCSymMatrix&& other) noexcept = default;
    MCSymMatrix& operator=(MCSymMatrix&& other) noexcept = default;
    virtual ~MCSymMatrix() = default;

    int GetNRows() const { return fN; }
    // Bytes that the elements of a matrix of order n take with their low
    // parts (as a double: large orders overflow 32-bit arithmetic).
    static double StorageBytes(int n) { return 16.0 * n * (n + 1.0) / 2.0; }
    // hi + lo rounded; 0 for an index out of range.
    double GetElem(int j, int k) const;
    // The low part of an element: 0 where there is none.
    double GetElemLow(int j, int k) const;
    // Writes the element (low part cleared); ignored out of range.
    void SetElem(int j, int k, double value);
    // The packed high parts.
    const std::vector<double>& AsVector() const { return fElems.Hi(); }
    // The packed elements for writing; drops every low part.
    std::vector<double>& AsVector();
    // d resized to n, the diagonal.
    void GetDiagonal(std::vector<double>& d) const;

    // this += w z z'. z has n entries. Products are exact and the sums
    // compensated. False for a null z.
    bool UpdateXX(const double* z, double w);
    bool UpdateXX(const std::vector<double>& z, double w);  // false unless z.size() == n
    // this += w z z' for a row given in double-double, z_i = zHi[i] + zLo[i]
    // (zLo may be null). Lets a caller that computes design values such as
    // high powers of a covariate in extended precision keep those digits:
    // rounding x^10 to a double alone perturbs ill-conditioned polynomial
    // fits in the eighth digit.
    bool UpdateXX(const double* zHi, const double* zLo, double w);
    // this += w z z' for the sparse z with the nnz entries val at the
    // ascending, distinct indices idx (each in 0..n-1). False (unchanged)
    // for null pointers with nnz > 0 or an index out of range.
    bool UpdateXXSparse(const int* idx, const double* val, int nnz, double w);
    // this(cols[a], cols[b]) += m(srcs[a], srcs[b]) for b <= a < count, low
    // parts included: scatters a small moment matrix over the columns it
    // stands for (several columns may share one source). cols must be
    // ascending and distinct. False (unchanged) on an index out of range.
    bool AddMapped(const MCSymMatrix& m, const int* cols, const int* srcs, int count);
    // The same from a moment matrix of the given order held as packed high
    // and low parts (mLo may be null), such as one of many kept in a block.
    bool AddMapped(const double* mHi, const double* mLo, int order, const int* cols,
                   const int* srcs, int count);

    // Sweeps pivot k (see the convention above); returns whether it swept.
    // A forward sweep (bit k clear) is refused, and the bit stays clear, when
    // the pivot is not finite or is exactly 0, and, with checkTol, when
    // |a_kk| <= tol * scale[k] (a pivot that is small relative to its scale,
    // normally the diagonal before any sweep: the column is a linear
    // combination of the pivots swept before, within tol). A reverse sweep
    // (bit k set) ignores the tolerance. scale may be empty when checkTol is
    // false; otherwise it needs n entries. set is resized to n when smaller.
    // The work follows the non-zeros of column k: rows and columns where it
    // is zero are left as they are, and so are its own zero entries.
    bool Sweep(int k, double tol, const std::vector<double>& scale, MCBitSet& set, bool checkTol);
    // Sweeps the pivots 0 .. count - 1 (none swept yet) with the tolerance
    // test of Sweep, each decided as Sweep(0), ..., Sweep(count - 1) in turn
    // would decide it: a pivot is refused when its column is, within tol, a
    // combination of the columns of the earlier pivots. The swept matrix is
    // theirs too, up to rounding. Where a run of at least 16 pivots has a
    // diagonal block (a factor's cells, which share no record), the longest
    // such run is swept first, each of its pivots at the cost of its own
    // non-zeros, and the other pivots after it, so that they fill the matrix
    // once instead of the first of them filling it for all the rest; each
    // run pivot is still tested against the pivots before it in index order,
    // through a small matrix of the pivots before the run. Otherwise the
    // pivots are swept in index order. Dense pivots go 32 at a time, every
    // element outside their rows and columns updated in one visit. Either
    // way the result is that of Sweep called on the pivots in the order they
    // were swept (order, when given, receives it), bit for bit. cancel, when
    // given, is polled once for each pivot, before it is decided or swept
    // (before its block), at most count times; a cancel stops the sweep
    // part-way and returns false.
    bool SweepLeading(int count, double tol, const std::vector<double>& scale, MCBitSet& set,
                      MCCancelInfo* cancel = nullptr, std::vector<int>* order = nullptr);
    // Sweeps the listed pivots in turn, each as Sweep(k, tol, scale, set,
    // checkTol) would (a reverse sweep where its bit is set), bit for bit,
    // dense columns of a large matrix 32 at a time. cancel, when given, is
    // polled once per pivot; a cancel stops part-way and returns false.
    bool SweepPivots(const std::vector<int>& pivots, double tol, const std::vector<double>& scale,
                     MCBitSet& set, bool checkTol, MCCancelInfo* cancel = nullptr);
    // Fills a scale vector for Sweep: scale[k] = factor * |a_kk|, except that
    // a diagonal element at most tol times the largest diagonal magnitude
    // (numerically zero) gets factor times that largest magnitude, so its
    // pivot is refused at tolerance tol.
    void ComputeSweepScale(std::vector<double>& scale, double tol, double factor) const;
    // Fills a scale vector for Sweep that judges each column by its own
    // spread, for a cross-product matrix whose column `unit` is the
    // intercept's column of ones (unit < 0: no intercept). scale[k] is the
    // weighted sum of squares of column k about its weighted mean,
    // a_kk - a_uk^2 / a_uu in extended precision (about zero, a_kk, without
    // an intercept or for the unit column itself). Compared with the
    // uncentred diagonal, this keeps a column whose values are far from zero
    // but vary (a timestamp, a calendar year and its square) from looking
    // like a multiple of the intercept. Neither does a pivot survive that is
    // no larger than the rounding of the sums themselves: scale[k] is at
    // least kSumsRounding / tol times a_kk, so that a column constant where
    // it is used, whose remainder after the mean is rounding alone, stays
    // aliased.
    void ComputeCentredScale(std::vector<double>& scale, int unit, double tol) const;
    // The same with a column of its own for each column k (unit[k] < 0:
    // about zero): an indicator column makes scale[k] the sum of squares
    // about the mean within the records that the indicator marks. A column
    // that is zero outside a cell of records no column marks (x within the
    // cells of A*B in a model without A*B) has the intercept as its unit and
    // the cell's weight in unitWeight, (high, low) at 2k and 2k + 1: a
    // positive weight there replaces a_uu, so that the column too is judged
    // by its spread within its cell.
    void ComputeCentredScale(std::vector<double>& scale, const std::vector<int>& unit, double tol,
                             const std::vector<double>* unitWeight = nullptr) const;
    // Column k's weighted moments about column unit, unitWeight as above:
    // the unit's total weight, k's sum where the unit is nonzero and k's sum
    // of squares about its mean there, in extended precision. False where k
    // has no unit (unit < 0, k itself, out of range) or the unit no positive
    // finite weight.
    struct CentredMoments {
        DoubleDouble::DD total;
        DoubleDouble::DD sum;
        DoubleDouble::DD centred;
    };
    bool GetCentredMoments(CentredMoments& m, int k, int unit,
                           const std::vector<double>* unitWeight = nullptr) const;
    // After the pivots of set were swept: among the columns k in set with
    // squares[k] > 0 (their sums of squares about their means), the one
    // whose size is the largest multiple of what the other swept columns
    // leave of it, sqrt(squares[k] * -a_kk), when that ratio is beyond
    // floor; -1 otherwise. A ratio r costs an inverse r^2 in precision.
    int MostCollinear(const std::vector<double>& squares, const MCBitSet& set, double floor,
                      double& ratio) const;
    // After the pivots of kept were swept: the kept columns that column u
    // is a combination of, (j, sign * a_ju), each whose share (the
    // coefficient times the column's size) passes kAliasingRounding times
    // u's size, what the sweep's rounding leaves where the columns share
    // nothing being dropped; (u, 1) for a kept u. Sizes are the square
    // roots of diagonal, the columns' sums of squares before the sweep;
    // sign -1 for a matrix that holds the coefficients negated.
    std::vector<std::pair<int, double>> KeptCombination(const MCBitSet& kept,
                                                        const std::vector<double>& diagonal, int u,
                                                        int p, double sign = 1.0) const;
    // What the compensated sums of a cross-product matrix leave in a
    // difference of its elements, relative to the elements (a pivot at
    // most this times its diagonal is rounding, whatever the tolerance).
    static constexpr double kSumsRounding = 1e-24;

    // After the parameter pivots of [X y]'W[X y] (order p + 1, y last) were
    // swept: b (resized to p = n - 1) gets the coefficients a_ky for the set
    // bits k < p and 0 for the clear bits.
    void GetRegCoeffs(std::vector<double>& b, const MCBitSet& set) const;
    // Zeroes the rows and columns k < set.Size() (and < n) whose bit is clear.
    void ZeroOutRedundant(const MCBitSet& set);
    // For a matrix swept on the set bits among its first q rows, whose
    // diagonal before the sweep was `diagonal`: clears each aliased column's
    // coefficient on a swept one where that coefficient times the swept
    // column's size (the root of its diagonal) is at most tol times the
    // aliased column's size. Between columns far from zero and the columns
    // they share nothing with (a timestamp within one category, another
    // category's indicator) the sweep leaves the rounding of the large ones
    // there, which the hypotheses built from these coefficients would read
    // as a relation.
    void ClearAliasingRounding(int q, const MCBitSet& set, const std::vector<double>& diagonal,
                               double tol);
    // The tolerance the fits clear those coefficients with: far above what
    // the extended-precision sweep leaves, far below a relation in the data.
    static constexpr double kAliasingRounding = 1e-10;
    // For a matrix swept on set (bits beyond its size clear) whose input was
    // a times what it stands for: the matrix swept from that instead. The
    // block of the swept pivots (an inverse) is multiplied by a, that of the
    // others (their residual cross products) divided by a, and the
    // coefficients between them stay, in extended precision.
    void UnscaleSwept(const MCBitSet& set, double a);
    // out (order set.Size()) spreads this matrix (order = number of set
    // bits) over the set bits in order; rows and columns of clear bits are 0.
    // False when the order does not match the number of set bits.
    bool Expand(const MCBitSet& set, MCSymMatrix& out) const;

    // v' S v (v of length n); the missing value on a length mismatch.
    double ComputeVSV(const std::vector<double>& v) const;
    // v' S v for v[0..n-1] (no check).
    double ComputeVSV(const double* v) const;
    // v' S v for the sparse v whose non-zeros are values[i] at strictly
    // ascending indices[i] (< n, not checked): the dense form's sums in the
    // dense form's order, so the result is the same to the bit, at the cost
    // of the non-zeros squared rather than n times them.
    double ComputeSparseVSV(const std::vector<int>& indices,
                            const std::vector<double>& values) const;
    // out = S v.
    bool ComputeSV(const std::vector<double>& v, std::vector<double>& out) const;
    // out = R S R' (order R's rows); R has n columns. out may not be this.
    bool ComputeRSRTrans(const MCRectMatrix& R, MCSymMatrix& out) const;
    // this += a Y (same order); extended precision is kept.
    bool ComputeAXpY(double a, const MCSymMatrix& Y);

    // In-place Cholesky factorisation S = L L' (L lower, replacing the
    // triangle). Pivot k is refused when its reduced value d_k (the squared
    // L_kk) is not finite or is at most tol times the original diagonal a_kk
    // (or a_kk <= 0): its column of L is then set to 0 and it is treated as
    // absent by LTSubstitute and InvertFromCholesky. Returns the number of
    // refused pivots (0: positive definite within tol). condition receives
    // min_k sqrt(d_k / a_kk) over the accepted pivots, the smallest
    // relative length of a column's component orthogonal to the columns
    // before it (1 for a diagonal or empty matrix, 0 when a pivot was
    // refused). It is the sine of the smallest
    // angle between a column and the span of the earlier ones; values near
    // sqrt(1e-7) ~ 0.000316 mean near-singular. Every later write to the
    // matrix (any non-const operation, or assignment) forgets the factor:
    // LTSubstitute and InvertFromCholesky then return false.
    int Cholesky(double tol, double& condition);
    // Solves L L' x = b with the factor from Cholesky (refused pivots give
    // x_k = 0). b and x may be the same vector. False on a length mismatch.
    bool LTSubstitute(const std::vector<double>& b, std::vector<double>& x) const;
    // Replaces the factor from Cholesky by the inverse of L L' (rows and
    // columns of refused pivots 0). False when the matrix is not a factor.
    bool InvertFromCholesky();

    // For a matrix swept on the pivots in set: writes one column of the
    // estimable-function basis H = G S for every parameter j in
    // first .. first + count - 1 whose bit is set, in order, into the
    // columns of H from colOffset on. Column of j: 1 at row j, 0 at the other
    // set rows, and the swept element a_ji (the coefficient of parameter i
    // on the pivots) at every clear row i, times sign (-1 for a matrix held
    // negated). H must have at most n rows (those of the leading block it
    // stands for: a matrix bordered by the dependent gives H for its design
    // block) and enough columns. Returns the number of columns written, -1
    // on a dimension mismatch (nothing written).
    int ExtractH(int first, int count, const MCBitSet& set, MCRectMatrix& H, int colOffset = 0,
                 double sign = 1.0) const;

    // Turns a swept inverse block into a covariance matrix: every element is
    // multiplied by -factor, so -(X'WX)^-1 becomes factor (X'WX)^-1 (factor
    // normally the error mean square, or 1). Zero rows and columns stay 0.
    void FinishCovariance(double factor);

    // this *= a.
    virtual void Scale(double a);
    virtual void Zero();
    // Order n; the leading min(old, n) block is kept, new elements are 0.
    // False (unchanged) when the allocation fails.
    virtual bool Resize(int n);
    // out (order m <= n) = the leading m x m block, low parts included.
    virtual bool CopyLeadingBlock(int m, MCSymMatrix& out) const;
    // Sums the matrix over the processes of a fit whose records are split
    // over several (every process calls it), high and low parts together.
    // False (unchanged) when the reducer fails.
    bool MergeAcrossProcesses(MCCommon_850::PassReducer& reducer);
    // Generalised inverse G with S G S = S: a copy is swept on the pivots in
    // order with the tolerance test of Sweep (tol, scale), the swept block
    // negated, and the rows and columns of the pivots that could not be swept
    // set to 0. out gets G, pivoted the swept pivots, rank their number.
    // scale needs n entries (all 0: only exactly zero pivots are refused).
    virtual bool GeneralizedInverse(double tol, const std::vector<double>& scale, MCSymMatrix& out,
                                    int& rank, MCBitSet& pivoted) const;
    // d' S^-1 d through a blocked Cholesky factor of the rounded elements,
    // for a matrix that GeneralizedInverse would find of full rank: false,
    // with nothing computed, when a pivot is not positive or would fail its
    // tolerance test (|pivot| <= tol * scale[k]), which the caller then
    // decides with the sweep. The pivots are those of the sweep in index
    // order, so a full-rank answer is the sweep's up to rounding.
    bool FullRankQuadraticForm(const std::vector<double>& d, double tol,
                               const std::vector<double>& scale, double& value) const;
    // Sets to 0 each element of magnitude at most threshold times the root
    // of the product of its row's and its column's diagonal magnitudes:
    // rounding relative to the variables' own scale, so that the inverse of
    // a hypothesis on estimates of any size (an intercept at a timestamp of
    // zero, some 1e8 from the data) keeps its elements.
    virtual void Clean(double threshold);
    virtual void Display() const;

private:
    static std::size_t Index(int j, int k) {
        if (j < k) {
            const int t = j;
            j = k;
            k = t;
        }
        return static_cast<std::size_t>(j) * (j + 1) / 2 + static_cast<std::size_t>(k);
    }

    // The packed elements together with the record of a Cholesky factor
    // held in them. Reading is free; every write goes through Write() (or
    // WriteLow(), DropLow()), which forgets the factor, so no operation can
    // leave a stale factor behind. Cholesky alone marks one, after writing it.
    class Elements {
    public:
        const std::vector<double>& Hi() const { return fvHi; }
        // The low parts; empty when all are 0.
        const std::vector<double>& Lo() const { return fvLo; }
        bool HasLow() const { return !fvLo.empty(); }
        // The high parts for writing; forgets the factor.
        std::vector<double>& Write() {
            Forget();
            return fvHi;
        }
        // The low parts for writing, allocated (zero) when absent; forgets
        // the factor. Throws std::bad_alloc when they cannot be allocated.
        std::vector<double>& WriteLow() {
            Forget();
            // assign() reuses the capacity a former clear() left, so this
            // allocates only the first time.
            if (fvLo.size() != fvHi.size()) {
                ReserveLarge(fvLo, fvHi.size());
                fvLo.assign(fvHi.size(), 0.0);
            }
            return fvLo;
        }
        // The low parts as they are (perhaps empty), for a caller that fills
        // them to the size of the high parts at once; forgets the factor.
        std::vector<double>& WriteLowUnset() {
            Forget();
            return fvLo;
        }
        // Rounds every element to its high part; forgets the factor.
        void DropLow() {
            Forget();
            fvLo.clear();
        }

        bool IsFactored() const { return fbFactored; }
        // Per pivot, whether Cholesky refused it (only while factored).
        const std::vector<unsigned char>& Refused() const { return fvRefused; }
        void MarkFactored(std::vector<unsigned char> refused) {
            fvRefused = std::move(refused);
            fbFactored = true;
        }
        void Forget() {
            fbFactored = false;
            fvRefused.clear();
        }

    private:
        std::vector<double> fvHi;              // packed high parts
        std::vector<double> fvLo;              // packed low parts; empty when all are 0
        std::vector<unsigned char> fvRefused;  // Cholesky pivots refused
        bool fbFactored = false;               // the elements hold a Cholesky factor
    };

    // Reserves room for n elements in an empty v, offering a large block to
    // the kernel as huge pages before anything is written to it: filling a
    // matrix of a few thousand rows then takes a few hundred page faults
    // instead of tens of thousands.
    static void ReserveLarge(std::vector<double>& v, std::size_t n);
    // Scratch of one pivot's sweep, kept across the pivots of SweepLeading.
    class SweepWork;
    // Sweep with column k known to be zero outside rows (ascending, k not
    // among them; null: every row).
    bool SweepPivot(int k, const std::vector<int>* rows, double tol,
                    const std::vector<double>& scale, MCBitSet& set, bool checkTol,
                    SweepWork& work);
    // Scratch of SweepBlock.
    class BlockWork;
    // Sweeps pivots[0 .. count - 1] in turn as Sweep would, bit for bit,
    // the update of the elements outside their rows and columns done in one
    // visit for all of them; the swept ones go to order (when given).
    // Returns how many were swept, -1 when memory ran out (nothing changed).
    int SweepBlock(const int* pivots, int count, double tol, const std::vector<double>& scale,
                   MCBitSet& set, bool checkTol, std::vector<int>* order, BlockWork& work);
    // Brings panel column m of a block up to date with pivot l of it.
    static void ApplyToPanel(BlockWork& w, const int* pivots, std::size_t m, std::size_t l,
                             std::size_t n);
    // Sweeps the pivots in turn, dense columns several at a time, polling
    // cancel once per pivot; false when cancelled.
    bool SweepList(const std::vector<int>& pivots, double tol, const std::vector<double>& scale,
                   MCBitSet& set, bool checkTol, MCCancelInfo* cancel, std::vector<int>* order);
    // The longest run first .. end - 1 of pivots below count whose block
    // is diagonal; false when there is none of two or more.
    bool FindDiagonalRun(int count, int& first, int& end) const;

    // Low parts present before an update writes elements (the factor
    // forgotten); false when they cannot be allocated.
    bool PrepareUpdate();

    int fN = 0;
    Elements fElems;
};

}  // namespace MCMath_850
