#pragma once
// The generator behind "Random dither": seeded once per program run, its sequence
// carries on from one conversion to the next. SplitMix64 gives the same sequence on
// every platform and standard library, so a given seed reproduces a picture exactly.
#include <cstdint>

namespace tavrix {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int next16() { return int(next() >> 60); }  // uniform 0..15

 private:
  uint64_t state_;
};

}  // namespace tavrix
