#pragma once
#include <cstdint>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "companion/MCAllocationGuard.h"

namespace MCMath_850 {

// Resizes v to n entries, new entries set to value; a smaller n shortens v.
// Returns true on success. A negative n, an n above max_size() or an
// allocation failure empties v and returns false, so that growth failure is
// reported as a refusal instead of an exception crossing the interface.
template <class T, class Alloc, class N, class V>
bool ResizeChkInit(std::vector<T, Alloc>& v, N n, const V& value) {
    static_assert(std::is_integral<N>::value, "ResizeChkInit needs an integral size");
    if constexpr (std::is_signed<N>::value) {
        if (n < 0) {
            v.clear();
            return false;
        }
    }
    if (static_cast<std::uintmax_t>(n) > static_cast<std::uintmax_t>(v.max_size())) {
        v.clear();
        return false;
    }
    try {
        v.resize(static_cast<typename std::vector<T, Alloc>::size_type>(n), static_cast<T>(value));
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        v.clear();
        return false;
    } catch (const std::length_error&) {
        MCCommon_850::RethrowInsideGuard();
        v.clear();
        return false;
    }
    return true;
}

}  // namespace MCMath_850
