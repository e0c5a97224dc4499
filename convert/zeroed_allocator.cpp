#include "convert/zeroed_allocator.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace tavrix {

namespace {

constexpr size_t kLarge = size_t(1) << 20;       // smaller blocks come from calloc
constexpr size_t kKeptAtMost = size_t(320) << 20;  // enough for two conversions at once

struct Kept {
  void* p;
  size_t bytes;
};

thread_local int skipClearing = 0;

std::mutex keptLock;
std::vector<Kept> kept;
size_t keptBytes = 0;

void* mapFresh(size_t bytes) {
#if defined(__unix__)
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
#else
  void* p = std::calloc(bytes, 1);
  if (!p) throw std::bad_alloc();
  return p;
#endif
}

void unmap(void* p, size_t bytes) noexcept {
#if defined(__unix__)
  munmap(p, bytes);
#else
  (void)bytes;
  std::free(p);
#endif
}

}  // namespace

void* allocateZeroed(size_t bytes) {
  if (bytes < kLarge) {
    void* p = std::calloc(bytes ? bytes : 1, 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  {
    std::lock_guard<std::mutex> lock(keptLock);
    for (size_t i = 0; i < kept.size(); ++i)
      if (kept[i].bytes == bytes) {
        void* p = kept[i].p;
        kept.erase(kept.begin() + long(i));
        keptBytes -= bytes;
        if (skipClearing == 0) std::memset(p, 0, bytes);
        return p;
      }
  }
  return mapFresh(bytes);
}

void releaseZeroed(void* p, size_t bytes) noexcept {
  if (bytes < kLarge) {
    std::free(p);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(keptLock);
    if (keptBytes + bytes <= kKeptAtMost) {
      try {
        kept.push_back({p, bytes});
        keptBytes += bytes;
        return;
      } catch (...) {
      }
    }
  }
  unmap(p, bytes);
}

SkipClearing::SkipClearing() { ++skipClearing; }
SkipClearing::~SkipClearing() { --skipClearing; }

void releaseKeptBuffers() noexcept {
  std::lock_guard<std::mutex> lock(keptLock);
  for (const Kept& k : kept) unmap(k.p, k.bytes);
  kept.clear();
  keptBytes = 0;
}

}  // namespace tavrix
