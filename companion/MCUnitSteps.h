#pragma once
#include <cstddef>
#include <map>
#include <utility>
#include <vector>

#include "companion/MCIndex.h"

namespace MCMath_850 {

// A map T, the identity but for a few entries, that carries estimates
// fitted on centred columns back to the model's columns, given in stages:
// per moved column (the target), the columns that move it and by how much
// (row target -= factor * row source). Within a stage no target is a
// source, so its steps commute.
using MCUnitStage = std::map<int, std::vector<std::pair<int, double>>>;

// V = T V T' for one stage of T, V symmetric of order n: get(i, j) reads
// an element and set(i, j, v) writes it and its mirror. A target's row and
// column are done together, its corner from the moved row, so that the
// storage of a symmetric matrix serves as it is. Apply a map's stages
// last to first.
template <class Get, class Set>
void ApplyUnitStage(const MCUnitStage& stage, int n, Get get, Set set) {
    std::vector<double> row(Ix(n));
    for (const auto& [t, steps] : stage) {
        for (int c = 0; c < n; ++c) {
            double v = get(t, c);
            for (const auto& [k, f] : steps) v -= f * get(k, c);
            row[Ix(c)] = v;
        }
        double corner = row[Ix(t)];
        for (const auto& [k, f] : steps) corner -= f * row[Ix(k)];
        for (int c = 0; c < n; ++c)
            if (c != t) set(t, c, row[Ix(c)]);
        set(t, t, corner);
    }
}

}  // namespace MCMath_850
