#include "companion/MCRectMatrix.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <utility>

#include "companion/MCAllocationGuard.h"
#include "companion/MCBitSet.h"
#include "companion/MCDiagMatrix.h"
#include "companion/MCDisplay.h"
#include "companion/MCIndex.h"
#include "companion/MCMathFun.h"

namespace MCMath_850 {

namespace {

// Allocates a vector of zeros; false instead of an exception.
bool Allocate(std::vector<double>& v, std::size_t n) {
    try {
        v.assign(n, 0.0);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    } catch (const std::length_error&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

double Dot(const double* a, const double* b, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}

// Removes from r (length n) its components along the orthonormal vectors of
// basis (each of length n, stored one after another). Run twice: one pass of
// Gram-Schmidt loses orthogonality when r is nearly in the span. Each pass
// takes all the components at once (c = E r, r -= E'c), two matrix-vector
// products that run at the speed of memory, where vector by vector the
// reductions would not vectorise.
void Orthogonalise(double* r, const std::vector<double>& basis, int n) {
    const std::size_t count = n > 0 ? basis.size() / static_cast<std::size_t>(n) : 0;
    if (count == 0) return;
    using Rows = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
    const Eigen::Map<const Rows> E(basis.data(), static_cast<Eigen::Index>(count), n);
    Eigen::Map<Eigen::VectorXd> v(r, n);
    Eigen::VectorXd c(static_cast<Eigen::Index>(count));
    for (int pass = 0; pass < 2; ++pass) {
        c.noalias() = E * v;
        v.noalias() -= E.transpose() * c;
    }
}

// Appends r / |r| to basis when |r| > tol * reference; returns whether it did.
bool AddToBasis(const std::vector<double>& r, double reference, double tol,
                std::vector<double>& basis) {
    const int n = static_cast<int>(r.size());
    const double norm = MCMathFun::DNrm2(n, r.data(), 1);
    if (!(reference > 0.0) || !(norm > tol * reference) || !std::isfinite(norm)) return false;
    for (double x : r) basis.push_back(x / norm);
    return true;
}

using Rows = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// Removes from the vectors (rows of v) their components along the
// orthonormal basis, twice, as Orthogonalise does for one: two matrix
// products per pass for all of them.
void OrthogonaliseAll(Eigen::Ref<Rows> v, const std::vector<double>& basis) {
    const Eigen::Index n = v.cols();
    const Eigen::Index count = n > 0 ? static_cast<Eigen::Index>(basis.size()) / n : 0;
    if (count == 0 || v.rows() == 0) return;
    const Eigen::Map<const Rows> E(basis.data(), count, n);
    Rows c(v.rows(), count);
    for (int pass = 0; pass < 2; ++pass) {
        c.noalias() = v * E.transpose();
        v.noalias() -= c * E;
    }
}

// Takes the vectors (rows of v, replaced by what is left of them) in turn
// into the orthonormal basis, each when what is left of it after the basis
// is longer than tol times reference[i]; kept[i] says which were taken.
// Vectors go in blocks: a block is freed of the basis it meets by matrix
// products, then of the block's own earlier vectors one by one. In exact
// arithmetic that is Gram-Schmidt vector by vector; the work is that of a
// few matrix products instead of a matrix-vector product per vector.
void ExtendBasis(Eigen::Ref<Rows> v, const std::vector<double>& reference, double tol,
                 std::vector<double>& basis, std::vector<char>& kept) {
    constexpr Eigen::Index kBlock = 64;
    const Eigen::Index n = v.cols();
    kept.assign(static_cast<std::size_t>(v.rows()), 0);
    std::vector<double> local;
    std::vector<double> r(static_cast<std::size_t>(n));
    for (Eigen::Index i0 = 0; i0 < v.rows(); i0 += kBlock) {
        const Eigen::Index b = std::min(kBlock, v.rows() - i0);
        OrthogonaliseAll(v.middleRows(i0, b), basis);
        local.clear();
        for (Eigen::Index i = i0; i < i0 + b; ++i) {
            Eigen::Map<Eigen::VectorXd>(r.data(), n) = v.row(i).transpose();
            Orthogonalise(r.data(), local, static_cast<int>(n));
            v.row(i) = Eigen::Map<const Eigen::RowVectorXd>(r.data(), n);
            if (AddToBasis(r, reference[static_cast<std::size_t>(i)], tol, local))
                kept[static_cast<std::size_t>(i)] = 1;
        }
        basis.insert(basis.end(), local.begin(), local.end());
    }
}

}  // namespace

MCRectMatrix::MCRectMatrix(int r, int c) {
    Resize(r, c);
}

double MCRectMatrix::GetElem(int i, int j) const {
    if (i < 0 || i >= fNRows || j < 0 || j >= fNCols) return 0.0;
    return fvData[static_cast<std::size_t>(i) * fNCols + j];
}

void MCRectMatrix::SetElem(int i, int j, double value) {
    if (i < 0 || i >= fNRows || j < 0 || j >= fNCols) return;
    fvData[static_cast<std::size_t>(i) * fNCols + j] = value;
}

const double* MCRectMatrix::GetRow(int i) const {
    if (i < 0 || i >= fNRows) return nullptr;
    return fvData.data() + static_cast<std::size_t>(i) * fNCols;
}

double* MCRectMatrix::GetRow(int i) {
    if (i < 0 || i >= fNRows) return nullptr;
    return fvData.data() + static_cast<std::size_t>(i) * fNCols;
}

bool MCRectMatrix::GetRow(int i, std::vector<double>& out) const {
    const double* row = GetRow(i);
    if (row == nullptr) return false;
    out.assign(row, row + fNCols);
    return true;
}

bool MCRectMatrix::SetRow(int i, const std::vector<double>& values) {
    double* row = GetRow(i);
    if (row == nullptr || values.size() < static_cast<std::size_t>(fNCols)) return false;
    std::copy(values.begin(), values.begin() + fNCols, row);
    return true;
}

bool MCRectMatrix::Resize(int r, int c) {
    r = std::max(r, 0);
    c = std::max(c, 0);
    std::vector<double> data;
    if (!Allocate(data, static_cast<std::size_t>(r) * static_cast<std::size_t>(c))) return false;
    fvData.swap(data);
    fNRows = r;
    fNCols = c;
    return true;
}

void MCRectMatrix::Zero() {
    std::fill(fvData.begin(), fvData.end(), 0.0);
}

bool MCRectMatrix::Transpose(MCRectMatrix& out) const {
    MCRectMatrix t;
    if (!t.Resize(fNCols, fNRows)) return false;
    for (int i = 0; i < fNRows; ++i)
        for (int j = 0; j < fNCols; ++j)
            t.fvData[static_cast<std::size_t>(j) * fNRows + i] =
                fvData[static_cast<std::size_t>(i) * fNCols + j];
    out = std::move(t);
    return true;
}

bool MCRectMatrix::ComputeRV(const std::vector<double>& v, std::vector<double>& out) const {
    if (v.size() != static_cast<std::size_t>(fNCols)) return false;
    std::vector<double> r;
    if (!Allocate(r, static_cast<std::size_t>(fNRows))) return false;
    for (int i = 0; i < fNRows; ++i) r[i] = Dot(GetRow(i), v.data(), fNCols);
    out.swap(r);
    return true;
}

bool MCRectMatrix::ComputeVR(const std::vector<double>& v, std::vector<double>& out) const {
    if (v.size() != static_cast<std::size_t>(fNRows)) return false;
    std::vector<double> r;
    if (!Allocate(r, static_cast<std::size_t>(fNCols))) return false;
    for (int i = 0; i < fNRows; ++i) {
        const double* row = GetRow(i);
        if (v[i] != 0.0)
            for (int j = 0; j < fNCols; ++j) r[j] += v[i] * row[j];
    }
    out.swap(r);
    return true;
}

bool MCRectMatrix::ComputeMatrixProduct(const MCRectMatrix& B, MCRectMatrix& out) const {
    if (B.fNRows != fNCols) return false;
    MCRectMatrix p;
    if (!p.Resize(fNRows, B.fNCols)) return false;
    for (int i = 0; i < fNRows; ++i) {
        const double* a = GetRow(i);
        double* o = p.GetRow(i);
        for (int k = 0; k < fNCols; ++k) {
            if (a[k] == 0.0) continue;
            const double* b = B.GetRow(k);
            for (int j = 0; j < B.fNCols; ++j) o[j] += a[k] * b[j];
        }
    }
    out = std::move(p);
    return true;
}

bool MCRectMatrix::ComputeProductMatrixTrans(const MCRectMatrix& B, MCRectMatrix& out) const {
    if (B.fNCols != fNCols) return false;
    MCRectMatrix p;
    if (!p.Resize(fNRows, B.fNRows)) return false;
    for (int i = 0; i < fNRows; ++i)
        for (int j = 0; j < B.fNRows; ++j)
            p.fvData[static_cast<std::size_t>(i) * B.fNRows + j] =
                Dot(GetRow(i), B.GetRow(j), fNCols);
    out = std::move(p);
    return true;
}

bool MCRectMatrix::ComputeDiagR(const MCDiagMatrix& D, MCRectMatrix& out) const {
    return ComputeDiagR(D.AsVector(), out);
}

bool MCRectMatrix::ComputeDiagR(const std::vector<double>& d, MCRectMatrix& out) const {
    if (d.size() != static_cast<std::size_t>(fNRows)) return false;
    if (&out != this) {
        MCRectMatrix copy;
        try {
            copy = *this;
        } catch (const std::bad_alloc&) {
            MCCommon_850::RethrowInsideGuard();
            return false;
        }
        out = std::move(copy);
    }
    for (int i = 0; i < fNRows; ++i) MCMathFun::DScal(fNCols, d[i], out.GetRow(i), 1);
    return true;
}

bool MCRectMatrix::CopyColToRow(int col, MCRectMatrix& dest, int destRow) const {
    if (col < 0 || col >= fNCols || dest.fNCols != fNRows || destRow < 0 || destRow >= dest.fNRows)
        return false;
    double* row = dest.GetRow(destRow);
    for (int i = 0; i < fNRows; ++i) row[i] = fvData[static_cast<std::size_t>(i) * fNCols + col];
    return true;
}

void MCRectMatrix::ColClean(int col, int nRows, double tol) {
    if (col < 0 || col >= fNCols) return;
    nRows = std::min(nRows, fNRows);
    double largest = 0.0;
    for (int i = 0; i < nRows; ++i) largest = std::max(largest, std::fabs(GetRow(i)[col]));
    const double cut = tol * largest;
    for (int i = 0; i < nRows; ++i)
        if (std::fabs(GetRow(i)[col]) <= cut) GetRow(i)[col] = 0.0;
}

int MCRectMatrix::ZeroOutPivotRow(int row, double tol, const MCBitSet* columns) {
    if (row < 0 || row >= fNRows) return -1;
    double* r = GetRow(row);
    int pivot = -1;
    for (int j = 0; j < fNCols; ++j) {
        // A zero needs no column scan: most rows of a hypothesis touch few
        // of its columns, and the scan runs down a column.
        if (r[j] == 0.0 || (columns != nullptr && !columns->IsIn(j))) continue;
        double largest = 0.0;
        for (int i = 0; i < fNRows; ++i) largest = std::max(largest, std::fabs(GetRow(i)[j]));
        if (std::fabs(r[j]) <= tol * largest) {
            r[j] = 0.0;
        } else if (pivot < 0 || std::fabs(r[j]) > std::fabs(r[pivot])) {
            pivot = j;
        }
    }
    if (pivot < 0) return -1;
    const double p = r[pivot];
    std::vector<std::pair<int, double>> factors;
    for (int j = 0; j < fNCols; ++j) {
        if (j == pivot || r[j] == 0.0) continue;
        if (columns != nullptr && !columns->IsIn(j)) continue;
        factors.emplace_back(j, r[j] / p);
    }
    // Row by row, so that memory is read in order; every element still
    // takes the one update it took column by column.
    for (int i = 0; i < fNRows; ++i) {
        double* x = GetRow(i);
        if (i != row)
            for (const auto& [j, f] : factors) x[j] -= f * x[pivot];
        x[pivot] = 0.0;
    }
    for (const auto& jf : factors) r[jf.first] = 0.0;
    return pivot;
}

namespace {

// Whether every row has an entry of its own (a column where the other rows
// are zero) larger than tol times the row's norm. Such rows are independent,
// and Gram-Schmidt would keep them all: what is left of a row after the
// others are taken out still holds that entry. The rows of a hypothesis
// built on the pivots of a swept matrix look like this, and the check is
// one pass where Gram-Schmidt costs rows^2 columns.
bool HasOwnEntries(const double* data, int rows, int cols, double tol) {
    auto row = [&](int i) { return data + Ix(i) * Ix(cols); };
    std::vector<int> owner(Ix(cols), -1);  // -2: shared
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            if (row(i)[j] != 0.0) owner[Ix(j)] = owner[Ix(j)] == -1 ? i : -2;
    std::vector<double> own(Ix(rows), 0.0);
    for (int j = 0; j < cols; ++j) {
        const int o = owner[Ix(j)];
        if (o >= 0) own[Ix(o)] = std::max(own[Ix(o)], std::fabs(row(o)[j]));
    }
    for (int i = 0; i < rows; ++i) {
        const double norm = MCMathFun::DNrm2(cols, row(i), 1);
        if (!std::isfinite(norm) || !(own[Ix(i)] > 2.0 * tol * norm)) return false;
    }
    return true;
}

}  // namespace

int MCRectMatrix::ExtractFullRank(double tol, std::vector<int>* kept) {
    std::vector<int> keep;
    try {
        if (fNRows > 0 && HasOwnEntries(fvData.data(), fNRows, fNCols, tol)) {
            if (kept != nullptr) {
                kept->resize(Ix(fNRows));
                for (int i = 0; i < fNRows; ++i) (*kept)[Ix(i)] = i;
            }
            return fNRows;
        }
        std::vector<double> basis, norms;
        std::vector<char> taken;
        Rows v = Eigen::Map<const Rows>(fvData.data(), fNRows, fNCols);
        for (int i = 0; i < fNRows; ++i) norms.push_back(MCMathFun::DNrm2(fNCols, GetRow(i), 1));
        ExtendBasis(v, norms, tol, basis, taken);
        for (int i = 0; i < fNRows; ++i)
            if (taken[Ix(i)]) keep.push_back(i);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return -1;
    }
    const int rank = static_cast<int>(keep.size());
    if (rank < fNRows) {
        for (int k = 0; k < rank; ++k)
            if (keep[k] != k) std::copy(GetRow(keep[k]), GetRow(keep[k]) + fNCols, GetRow(k));
        fvData.resize(static_cast<std::size_t>(rank) * fNCols);
        fNRows = rank;
    }
    if (kept != nullptr) kept->swap(keep);
    return rank;
}

namespace {

// For each column of B, a row in which that column holds 1 and every other
// column 0, as the columns of H taken from a swept matrix have on the
// pivots; false when some column has none.
bool FindUnitRows(const MCRectMatrix& B, std::vector<int>& unit) {
    unit.assign(Ix(B.GetNCols()), -1);
    for (int i = 0; i < B.GetNRows(); ++i) {
        const double* r = B.GetRow(i);
        int only = -1;
        for (int j = 0; j < B.GetNCols() && only != -2; ++j)
            if (r[j] != 0.0) only = only == -1 && r[j] == 1.0 ? j : -2;
        if (only >= 0 && unit[Ix(only)] < 0) unit[Ix(only)] = i;
    }
    return std::find(unit.begin(), unit.end(), -1) == unit.end();
}

// Replaces the columns of A (n x k) by their projections onto the
// orthogonal complement of the column space of B (n x m), where B is the
// identity on the rows unit and any C on the other rows O. The complement
// is spanned by e_o - sum_s C(o, s) e_unit(s) for o in O, whose Gram matrix
// is I + CC'; so a column a projects to z on O and -C'z on the unit rows,
// with z = (I + CC')^-1 (a_O - C a_unit). Work (n - m)^2 m, where an
// orthonormal basis of B costs n m^2.
void ProjectOffUnitColumns(const MCRectMatrix& B, const std::vector<int>& unit, Rows& A) {
    std::vector<char> isUnit(Ix(B.GetNRows()), 0);
    for (int u : unit) isUnit[Ix(u)] = 1;
    std::vector<int> others;
    for (int i = 0; i < B.GetNRows(); ++i)
        if (!isUnit[Ix(i)]) others.push_back(i);
    const Eigen::Index o = static_cast<Eigen::Index>(others.size());
    const Eigen::Index m = B.GetNCols();
    const Eigen::Index k = A.cols();
    if (o == 0) {  // B spans everything
        A.setZero();
        return;
    }
    Eigen::MatrixXd C(o, m), AO(o, k), AU(m, k);
    for (Eigen::Index a = 0; a < o; ++a) {
        C.row(a) = Eigen::Map<const Eigen::RowVectorXd>(B.GetRow(others[Ix(int(a))]), m);
        AO.row(a) = A.row(others[Ix(int(a))]);
    }
    for (Eigen::Index s = 0; s < m; ++s) AU.row(s) = A.row(unit[Ix(int(s))]);
    Eigen::MatrixXd M = Eigen::MatrixXd::Identity(o, o);
    M.selfadjointView<Eigen::Lower>().rankUpdate(C);
    const Eigen::MatrixXd Z = M.selfadjointView<Eigen::Lower>().llt().solve(AO - C * AU);
    const Eigen::MatrixXd ZU = -C.transpose() * Z;
    for (Eigen::Index a = 0; a < o; ++a) A.row(others[Ix(int(a))]) = Z.row(a);
    for (Eigen::Index s = 0; s < m; ++s) A.row(unit[Ix(int(s))]) = ZU.row(s);
}

}  // namespace

bool MCRectMatrix::ResidOfOrthProjection(const MCRectMatrix& B, double tol, MCBitSet& independent) {
    if (B.fNRows != fNRows && B.fNCols > 0) return false;
    try {
        std::vector<double> norms;
        std::vector<char> taken;
        Rows mine = Eigen::Map<const Rows>(fvData.data(), fNRows, fNCols).transpose();
        for (Eigen::Index j = 0; j < mine.rows(); ++j)
            norms.push_back(MCMathFun::DNrm2(int(mine.cols()), mine.row(j).data(), 1));
        std::vector<int> unit;
        if (B.fNCols > fNRows - B.fNCols && FindUnitRows(B, unit)) {
            // Columns of H on most of the pivots: their complement is the
            // smaller space.
            Rows A = Eigen::Map<const Rows>(fvData.data(), fNRows, fNCols);
            ProjectOffUnitColumns(B, unit, A);
            mine = A.transpose();
        } else {
            // Orthonormal basis of B's columns, and this matrix's columns
            // less their projections on it.
            std::vector<double> basisB, normsB;
            Rows cols = Eigen::Map<const Rows>(B.fvData.data(), B.fNRows, B.fNCols).transpose();
            for (Eigen::Index j = 0; j < cols.rows(); ++j)
                normsB.push_back(MCMathFun::DNrm2(int(cols.cols()), cols.row(j).data(), 1));
            ExtendBasis(cols, normsB, tol, basisB, taken);
            OrthogonaliseAll(mine, basisB);
        }
        // The residuals' directions tell which of them are independent.
        Eigen::Map<Rows>(fvData.data(), fNRows, fNCols) = mine.transpose();
        std::vector<double> basisR;
        ExtendBasis(mine, norms, tol, basisR, taken);
        MCBitSet result(fNCols);
        for (int j = 0; j < fNCols; ++j)
            if (taken[Ix(j)]) result.Set(j);
        independent = std::move(result);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return false;
    }
    return true;
}

bool MCRectMatrix::IsERowMultipleOfAnother(int i, int j, const std::vector<double>* extra,
                                           double tol) const {
    if (i < 0 || i >= fNRows || j < 0 || j >= fNRows) return false;
    auto value = [&](int row, int k) -> double {
        if (k < fNCols) return GetRow(row)[k];
        return static_cast<std::size_t>(row) < extra->size() ? (*extra)[row] : 0.0;
    };
    const int n = fNCols + (extra != nullptr ? 1 : 0);
    int m = -1;
    double largestB = 0.0;
    for (int k = 0; k < n; ++k) {
        if (m < 0 || std::fabs(value(i, k)) > std::fabs(value(i, m))) m = k;
        largestB = std::max(largestB, std::fabs(value(j, k)));
    }
    if (m < 0 || value(i, m) == 0.0 || largestB == 0.0) return false;
    const double c = value(j, m) / value(i, m);
    if (c == 0.0 || !std::isfinite(c)) return false;
    for (int k = 0; k < n; ++k)
        if (!(std::fabs(value(j, k) - c * value(i, k)) <= tol * largestB)) return false;
    return true;
}

void MCRectMatrix::Display() const {
    MCDisplay_850::DisplayText("MCRectMatrix display start");
    MCDisplay_850::DisplayI("Rows", fNRows);
    MCDisplay_850::DisplayI("Columns", fNCols);
    std::vector<double> row;
    for (int i = 0; i < fNRows; ++i) {
        GetRow(i, row);
        MCDisplay_850::DisplayDV("Row " + std::to_string(i), row);
    }
    MCDisplay_850::DisplayText("MCRectMatrix display end");
}

bool MCRectMatrix::ExpandForBlocks(int n, MCRectMatrix& out) const {
    if (n < 1 || !out.Resize(fNRows * n, fNCols * n)) return false;
    for (int b = 0; b < n; ++b)
        for (int i = 0; i < fNRows; ++i)
            for (int j = 0; j < fNCols; ++j)
                out.SetElem(b * fNRows + i, b * fNCols + j, GetElem(i, j));
    return true;
}

bool MCRectMatrix::WidenLeft(int n, MCRectMatrix& out) const {
    if (n < 0 || !out.Resize(fNRows, fNCols + n)) return false;
    for (int i = 0; i < fNRows; ++i)
        for (int j = 0; j < fNCols; ++j) out.SetElem(i, n + j, GetElem(i, j));
    return true;
}

}  // namespace MCMath_850
