#pragma once
// Runtime dispatch: one binary for every x86-64; the AVX2 kernels run where the processor has it.
#include <bit>
#include <cmath>
#include <cstdint>

namespace tavrix {

inline bool hasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
#else
  return false;
#endif
}

// AVX-512 F and DQ, unless TAVRIX_NO_AVX512 is set (to test the AVX2 path on such machines).
bool hasAvx512();

// float(pow(sum, 0.5)) through the hardware square root. The two differ by about an ulp
// at most, which moves the float only when the double lies next to a float rounding
// boundary: there, and for 0, infinity or NaN, pow itself answers.
inline float rootLikePow(double sum) {
  const double r = std::sqrt(sum);
  const float f = float(r);
  const uint64_t bits = std::bit_cast<uint64_t>(r);
  if (float(std::bit_cast<double>(bits + 2)) == f && float(std::bit_cast<double>(bits - 2)) == f) return f;
  return float(std::pow(sum, 0.5));
}

}  // namespace tavrix
