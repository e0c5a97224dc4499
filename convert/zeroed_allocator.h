#pragma once
// Allocator of the per-pixel buffers: fresh zero pages straight from the system, in huge
// pages where it grants them. A conversion's 72 MB of buffers then cost a few dozen page
// faults instead of eighteen thousand, and no second pass of zeroing.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace tavrix {

template <class T>
struct ZeroedAllocator {
  using value_type = T;

  ZeroedAllocator() = default;
  template <class U>
  ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}

  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
#if defined(__unix__)
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
    return static_cast<T*>(p);
#else
    void* p = std::calloc(n, sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
#endif
  }
  void deallocate(T* p, size_t n) noexcept {
#if defined(__unix__)
    munmap(p, n * sizeof(T));
#else
    (void)n;
    std::free(p);
#endif
  }

  // The memory is zero already: value-initialising an element writes nothing.
  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  template <class U>
  bool operator==(const ZeroedAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace tavrix
