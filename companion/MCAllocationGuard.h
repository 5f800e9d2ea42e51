#pragma once
// The one place where running out of memory becomes a status. The library's
// inner code lets std::bad_alloc (and std::length_error, a size no vector
// can hold) travel up to the public operation the host called; that
// operation runs its body through GuardAllocation, so no exception crosses
// the interface and the host sees error 305 (or the operation's refusal)
// instead.
//
// Public operations call one another: a matrix product inside a test is a
// public operation of the matrix too. Only the outermost guard answers; a
// guard inside another lets the exception pass, so that the operation the
// host called fails as a whole instead of going on with a refused step.
// Code that can do something better than give up (fall back to a smaller
// algorithm, refuse a model with the number of parameters that would fit)
// keeps its own catch. Internal to the library.
#include <new>
#include <stdexcept>
#include <utility>

#include "companion/MCStatus.h"
#include "companion/MCStatusCodes.h"

namespace MCCommon_850 {

namespace AllocationGuardDetail {

// How many guards the calling thread is inside.
inline thread_local int tDepth = 0;

class Scope {
public:
    Scope() { ++tDepth; }
    ~Scope() { --tDepth; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

}  // namespace AllocationGuardDetail

// Whether an outer public operation answers for running out of memory.
inline bool InsideAllocationGuard() {
    return AllocationGuardDetail::tDepth > 0;
}

// For the catch of a building block that refuses (false, -1, unchanged)
// when memory runs out, as a host calling it expects: called from inside
// the handler, it passes the exception on when an outer operation answers
// for it, whose next step would otherwise build on the refusal.
inline void RethrowInsideGuard() {
    if (InsideAllocationGuard()) throw;
}

// Runs body, which returns an MCStatus; error 305 when memory runs out.
template <class Body>
MCStatus GuardAllocation(Body&& body) {
    if (InsideAllocationGuard()) return std::forward<Body>(body)();
    try {
        const AllocationGuardDetail::Scope scope;
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return ErrorStatus(StatusCode::kAllocationFailed);
}

// The same for an operation that answers with a value (false, null, -1,
// missing): failed when memory runs out.
template <class Result, class Body>
Result GuardAllocationOr(Result failed, Body&& body) {
    if (InsideAllocationGuard()) return std::forward<Body>(body)();
    try {
        const AllocationGuardDetail::Scope scope;
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return failed;
}

}  // namespace MCCommon_850
