#pragma once
#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

namespace mchost {

// An allocator for the columns of big data sets. Blocks of 2 MiB and more
// are aligned to 2 MiB and offered to the kernel as huge pages: filling a
// million-row column then takes a few page faults instead of thousands,
// which is a good part of the time spent reading a large file. Smaller
// blocks come from the standard allocator.
template <class T>
class LargeAllocator {
public:
    using value_type = T;

    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kHuge) return std::allocator<T>().allocate(n);
        void* p = std::aligned_alloc(kHuge, Rounded(bytes));
        if (p == nullptr) throw std::bad_alloc();
        madvise(p, Rounded(bytes), MADV_HUGEPAGE);  // a hint: failure changes nothing
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) {
        if (n * sizeof(T) < kHuge)
            std::allocator<T>().deallocate(p, n);
        else
            std::free(p);
    }

    // Growing a vector leaves the new elements uninitialised: its owner
    // writes them next, and zeroing them first would double the traffic.
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const LargeAllocator<U>&) const {
        return true;
    }
    template <class U>
    bool operator!=(const LargeAllocator<U>&) const {
        return false;
    }

private:
    static constexpr std::size_t kHuge = std::size_t(2) << 20;
    static std::size_t Rounded(std::size_t bytes) { return (bytes + kHuge - 1) & ~(kHuge - 1); }
};

}  // namespace mchost
