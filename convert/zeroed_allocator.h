#pragma once
// Allocator of the per-pixel buffers: zero-filled memory. Large blocks are kept for the
// next conversion and cleared with memset: faulting in 65 MB of fresh pages costs 25-30 ms
// here, clearing them once mapped 1-2 ms. (Huge pages were tried: their first touch
// sometimes waits over 100 ms for the kernel to compact memory.)
#include <cstddef>
#include <new>
#include <utility>

namespace tavrix {

void* allocateZeroed(size_t bytes);
void releaseZeroed(void* p, size_t bytes) noexcept;
// Gives the kept blocks back to the system.
void releaseKeptBuffers() noexcept;

// While one lives, a kept block handed out on this thread is not cleared (a fresh one is
// zero anyway): for a buffer whose every slot that is read has been written first.
class SkipClearing {
 public:
  SkipClearing();
  ~SkipClearing();
  SkipClearing(const SkipClearing&) = delete;
  SkipClearing& operator=(const SkipClearing&) = delete;
};

template <class T>
struct ZeroedAllocator {
  using value_type = T;

  ZeroedAllocator() = default;
  template <class U>
  ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}

  T* allocate(size_t n) { return static_cast<T*>(allocateZeroed(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { releaseZeroed(p, n * sizeof(T)); }

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
