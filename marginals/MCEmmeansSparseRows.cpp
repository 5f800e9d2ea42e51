#include "marginals/MCEmmeansSparseRows.h"

#include "companion/MCIndex.h"

namespace MCMath_850 {

void MCEmmeansSparseRows::Load(const MCRectMatrix& L, int first, int count) {
    fvIndices.clear();
    fvValues.clear();
    fvStarts.assign(1, 0);
    const int p = L.GetNCols();
    for (int r = first; r < first + count; ++r) {
        const double* row = L.GetRow(r);
        for (int c = 0; c < p; ++c)
            if (row[c] != 0.0) {
                fvIndices.push_back(c);
                fvValues.push_back(row[c]);
            }
        fvStarts.push_back(fvIndices.size());
    }
}

void MCEmmeansSparseRows::Row(int i, std::vector<int>& indices, std::vector<double>& values) const {
    const auto a = static_cast<long>(fvStarts[Ix(i)]), e = static_cast<long>(fvStarts[Ix(i) + 1]);
    indices.assign(fvIndices.begin() + a, fvIndices.begin() + e);
    values.assign(fvValues.begin() + a, fvValues.begin() + e);
}

void MCEmmeansSparseRows::Difference(int i, int j, std::vector<int>& indices,
                                     std::vector<double>& values) const {
    indices.clear();
    values.clear();
    std::size_t a = fvStarts[Ix(i)], b = fvStarts[Ix(j)];
    const std::size_t aEnd = fvStarts[Ix(i) + 1], bEnd = fvStarts[Ix(j) + 1];
    while (a < aEnd || b < bEnd) {
        int c;
        double d;
        if (b == bEnd || (a < aEnd && fvIndices[a] < fvIndices[b])) {
            c = fvIndices[a];
            d = fvValues[a++];
        } else if (a == aEnd || fvIndices[b] < fvIndices[a]) {
            c = fvIndices[b];
            d = -fvValues[b++];
        } else {
            c = fvIndices[a];
            d = fvValues[a++] - fvValues[b++];
        }
        if (d == 0.0) continue;
        indices.push_back(c);
        values.push_back(d);
    }
}

double MCEmmeansSparseRows::Dot(const std::vector<int>& indices, const std::vector<double>& values,
                                const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t a = 0; a < indices.size(); ++a) sum += values[a] * b[Ix(indices[a])];
    return sum;
}

}  // namespace MCMath_850
