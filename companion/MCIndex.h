#pragma once
#include <cstddef>

namespace MCMath_850 {

// The library counts with int (record positions, categories, effects,
// parameters; -1 for none) and the standard containers index with
// std::size_t: Ix turns a valid (non-negative) int index into a subscript.
// Loops over a container's elements use std::size_t indices instead.
constexpr std::size_t Ix(int i) {
    return static_cast<std::size_t>(i);
}

}  // namespace MCMath_850
