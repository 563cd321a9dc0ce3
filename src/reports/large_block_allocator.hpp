#pragma once

// An allocator for the big per-row arrays of a report (tens of MB for a long acquisition): blocks
// of 2 MB and more are aligned to 2 MB and marked for transparent huge pages, so that touching
// them takes a few page faults instead of thousands. Smaller blocks come from operator new.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace kestrova::reports {

template <typename T> class LargeBlockAllocator {
public:
  using value_type = T;
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;

  LargeBlockAllocator() = default;
  template <typename U> LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) return static_cast<T*>(::operator new(bytes));
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE); // a hint: without huge pages the block still works
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kHugePage)
      ::operator delete(p);
    else
      std::free(p);
  }

  template <typename U> bool operator==(const LargeBlockAllocator<U>&) const noexcept {
    return true;
  }
};

} // namespace kestrova::reports
