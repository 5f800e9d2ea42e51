#pragma once
#include <vector>

#include "companion/MCExport.h"

namespace MCMath_850 {

class MCBitSet;
class MCDiagMatrix;

// A dense r x c matrix stored row after row: element (i, j) is at
// i * c + j of AsVector(). Operations that combine matrices check the
// dimensions and return false (leaving the output unchanged) on a mismatch
// or when an allocation fails; nothing throws.
class MCREG_API MCRectMatrix {
public:
    MCRectMatrix() = default;
    // r x c zeros (negative sizes count as 0).
    MCRectMatrix(int r, int c);
    virtual ~MCRectMatrix() = default;
    MCRectMatrix(const MCRectMatrix&) = default;
    MCRectMatrix& operator=(const MCRectMatrix&) = default;
    MCRectMatrix(MCRectMatrix&&) noexcept = default;
    MCRectMatrix& operator=(MCRectMatrix&&) noexcept = default;

    int GetNRows() const { return fNRows; }
    int GetNCols() const { return fNCols; }
    // 0 for an index out of range.
    double GetElem(int i, int j) const;
    // Ignored for an index out of range.
    void SetElem(int i, int j, double value);
    const std::vector<double>& AsVector() const { return fvData; }
    std::vector<double>& AsVector() { return fvData; }
    // Pointer to the first element of row i (null out of range).
    const double* GetRow(int i) const;
    double* GetRow(int i);
    // Copies row i into out (resized to c); false out of range.
    bool GetRow(int i, std::vector<double>& out) const;
    // Sets row i from values (at least c of them); false otherwise.
    bool SetRow(int i, const std::vector<double>& values);

    // Becomes r x c zeros; false (unchanged) when the allocation fails.
    bool Resize(int r, int c);
    void Zero();

    // out = A' (c x r).
    bool Transpose(MCRectMatrix& out) const;
    // out = A v (length r); v has length c.
    bool ComputeRV(const std::vector<double>& v, std::vector<double>& out) const;
    // out = v' A (length c); v has length r.
    bool ComputeVR(const std::vector<double>& v, std::vector<double>& out) const;
    // out = A B; B has c rows. out may not be this or B.
    bool ComputeMatrixProduct(const MCRectMatrix& B, MCRectMatrix& out) const;
    // out = A B' (r x B's rows); B has c columns. out may not be this or B.
    bool ComputeProductMatrixTrans(const MCRectMatrix& B, MCRectMatrix& out) const;
    // out = D A, row i of A scaled by d_i; D has r rows. out may be this.
    bool ComputeDiagR(const MCDiagMatrix& D, MCRectMatrix& out) const;
    bool ComputeDiagR(const std::vector<double>& d, MCRectMatrix& out) const;

    // Copies column col of this matrix into row destRow of dest; dest must
    // have as many columns as this matrix has rows.
    bool CopyColToRow(int col, MCRectMatrix& dest, int destRow) const;

    // Sets to exactly 0 the entries among the first nRows rows of column col
    // whose magnitude is at most tol times the largest magnitude there
    // (round-off left by eliminations). nRows is clipped to the row count.
    void ColClean(int col, int nRows, double tol = 1e-12);

    // Column elimination that makes row `row` zero: the pivot is the entry of
    // largest magnitude in that row among the columns in `columns` (all
    // columns when null); its multiples are subtracted from the other
    // candidate columns so that the row vanishes in them, and the pivot
    // column is then zeroed. Entries of the row at most tol times their column's largest
    // magnitude count as zero (and are set to 0). Returns the pivot column,
    // or -1 when the row is already zero over the candidate columns.
    int ZeroOutPivotRow(int row, double tol, const MCBitSet* columns = nullptr);

    // Keeps a maximal set of linearly independent rows, the earliest ones
    // first, dropping every row whose residual after orthogonalisation
    // against the kept rows has norm at most tol times its own norm (zero
    // rows always go). The kept rows stay in order and unchanged. kept, when
    // given, receives their original indices. Returns the rank (-1 when an
    // allocation fails; the matrix is then unchanged).
    int ExtractFullRank(double tol, std::vector<int>* kept = nullptr);
    // out = I_n (x) A: A once per diagonal block, n blocks (rows r n, columns
    // c n). The rows of a hypothesis over the parameters of one response
    // block, repeated for each block of a multinomial model. False for n < 1
    // or when out cannot be sized.
    bool ExpandForBlocks(int n, MCRectMatrix& out) const;
    // out = [0 | A] with n zero columns in front (n >= 0).
    bool WidenLeft(int n, MCRectMatrix& out) const;

    // Replaces every column a of this matrix by its residual a - P a after
    // orthogonal projection onto the column space of B (B has as many rows).
    // independent (resized to the column count) gets a bit set for every
    // column whose residual is not negligible: its norm, after also removing
    // the directions of earlier independent residual columns, exceeds tol
    // times the column's norm before projection. B's own dependent columns
    // (at tol) are ignored. An empty B leaves the columns as they are.
    bool ResidOfOrthProjection(const MCRectMatrix& B, double tol, MCBitSet& independent);

    // Whether row j (with extra_j appended when extra is given) is a non-zero
    // multiple of row i (with extra_i appended): some c != 0 with
    // row_j = c row_i, every component within tol times the largest
    // magnitude of row j. A zero row is nobody's multiple.
    bool IsERowMultipleOfAnother(int i, int j, const std::vector<double>* extra = nullptr,
                                 double tol = 1e-12) const;

    void Display() const;

private:
    int fNRows = 0;
    int fNCols = 0;
    std::vector<double> fvData;
};

}  // namespace MCMath_850
