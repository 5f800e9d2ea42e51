#pragma once
#include <vector>

namespace MCMath_850 {

class MCSymBlockMatrix;

// The score and information sums of a multinomial logit pass, kept per cell.
//
// The rows of a cell take the same parameter in every effect, so their
// sparse design rows share the columns, and each design value is one of a
// few sources: 1 for the intercept and the factor cells, or a covariate
// product. A row's score w (e_y - pi) (x) x and information
// w (diag(pi) - pi pi') (x) x x' are then sums over products of the source
// values, which are fewer than the columns: with three sources (1, x1, x2)
// and five columns a row adds 36 products instead of 120. At the end of a
// pass (Flush) each cell's sums are spread over its columns.
//
// The score and information sums are compensated (a running sum and its
// rounding error, as in Ogita, Rump and Oishi's Sum2): the rows of a cell
// repeat the same terms, whose rounding in a plain sum would add up rather
// than cancel, and the information of records taken in another order (or
// split over processes) must be the same matrix, since the covariances of
// the estimates are its inverse. Beside them
// each cell keeps the magnitudes that bound the rounding of a row's eta and
// of the score (see MCAccumStatsLogistic).
//
// A cell is named by the caller's number, stable across passes; its columns
// and sources are given when the cell is first used. Memory is bounded:
// beyond kMaxDoubles of sums no new cell is taken, and the caller adds those
// rows one by one. The sums are counted as held, padding included.
class MCLogitCells {
public:
    static const std::size_t kMaxDoubles = std::size_t{1} << 22;

    // nLogits blocks of p parameters; forgets every cell.
    void Setup(int nLogits, int p);
    // A new pass: every sum 0, and the coefficient sums recomputed on the
    // next use of each cell (the estimates have moved).
    void NewPass();
    // Per source, the centre the model took from its values (0 for none):
    // a cell then also knows how far its sums of the uncentred estimates
    // reach (GetCentreMagnitude).
    void SetSourceCentres(const std::vector<double>& centres) { fvCentres = centres; }
    bool Has(int cell) const;
    // Makes the cell current, creating it from columns (ascending, 0..p-1),
    // sources (0..nSources-1) and the estimates when it is new. False (no
    // current cell) when the layout is invalid or memory is exhausted.
    bool Use(int cell, const std::vector<int>& columns, const std::vector<int>& sources,
             int nSources, const std::vector<double>& estimates);
    int GetNSources() const;
    // The current cell, to be made current again by Select without Use's
    // checks (valid until Setup); -1 when there is none.
    int GetCurrent() const { return fCurrent; }
    void Select(int current);
    // sum_t |centre_t| sum_j max_k |beta_kj| over the current cell's columns
    // j of source t: with Eta's magnitude twice this bounds the size of
    // the row's terms in the uncentred estimates.
    double GetCentreMagnitude() const;
    // eta (nLogits entries) of a row of the current cell, from its
    // GetNSources() source values z; false when one is not finite.
    // magnitude receives sum_j |x_j| max_k |beta_kj| over the row's
    // columns, which bounds |eta_k| and scales its rounding; terms the
    // number of products and sums that make an eta (columns and sources).
    bool Eta(const double* z, double* eta, double& magnitude, int& terms) const;
    // Adds a row of the current cell: scoreCoef has nLogits entries (the
    // row's w (e_y - pi)), infoCoef the packed lower triangle of
    // w (diag(pi) - pi pi') (nInfo entries, at most its size), boundCoef
    // the row's factor of the score's rounding bound (added times |x_j| to
    // column j's bound).
    void Add(const double* z, const double* scoreCoef, const double* infoCoef, std::size_t nInfo,
             double boundCoef);
    // Adds the sums of the cells used since the last flush to the scores
    // (a running sum and its error, scoresLo), the score bounds of the
    // columns (p entries) and the information, and sets them to 0.
    void Flush(std::vector<double>& scores, std::vector<double>& scoresLo,
               std::vector<double>& scoreBounds, MCSymBlockMatrix& information);

private:
    struct Cell {
        std::vector<int> fvColumns;
        std::vector<int> fvSources;
        std::size_t fNSources = 0;
        // Widths of the score and information rows of the sums: the sources
        // and their pairs padded to whole half lanes (see MCLogitKernels).
        std::size_t fScoreWidth = 0;
        std::size_t fPairWidth = 0;
        long fPass = -1;                // pass of the coefficient sums
        std::vector<double> fvCoef;     // per logit, per source: sum of the estimates
        std::vector<double> fvAbsCoef;  // per source: sum of max_k |estimate_kj|
        double fCentreMagnitude = 0.0;
        // The scores, per logit a row of the sources, followed by the
        // information, per packed logit pair a row of the packed source
        // pairs: each block an outer product of a row's coefficients and
        // its values. The padding of the rows is summed but never read.
        std::vector<double> fvSums;
        std::vector<double> fvSumsLo;  // their rounding errors
        std::vector<double> fvBounds;  // per source: score bound factors times |z|
        bool fbTouched = false;
    };

    // Every sum of a cell 0.
    static void Clear(Cell& c);

    std::size_t fNLogits = 0;
    std::size_t fP = 0;
    long fPass = 0;
    std::vector<int> fvSlot;  // cell number -> index into fvCells, -1 when absent
    std::vector<Cell> fvCells;
    std::vector<std::size_t> fvTouched;
    std::size_t fDoubles = 0;
    std::vector<double> fvCentres;
    Cell* fpCurrent = nullptr;
    int fCurrent = -1;
    // Scratch of a row, padded with zeros to whole lanes: its source values
    // and the products of their pairs.
    std::vector<double> fvValues;
    std::vector<double> fvPairs;
};

}  // namespace MCMath_850
