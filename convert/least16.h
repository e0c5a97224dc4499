#pragma once
// For 16 lanes at once: the least value seen, where it was seen, and the second least
// (equal to the least when two are equal), so that a float search can tell whether its
// winner is clear of the runner-up. Several runs merge into one.
#include <immintrin.h>

#include <cmath>

namespace tavrix {

struct Least16 {
  __m512 best, second;
  __m512i index;
  __attribute__((target("avx512f"))) explicit Least16(int none)
      : best(_mm512_set1_ps(INFINITY)), second(best), index(_mm512_set1_epi32(none)) {}
  __attribute__((target("avx512f"))) void add(__m512 d, int j) {
    __mmask16 lt = _mm512_cmp_ps_mask(d, best, _CMP_LT_OQ);
    second = _mm512_mask_blend_ps(lt, _mm512_min_ps(second, d), best);
    best = _mm512_mask_blend_ps(lt, best, d);
    index = _mm512_mask_blend_epi32(lt, index, _mm512_set1_epi32(j));
  }
  __attribute__((target("avx512f"))) void merge(const Least16& o) {
    __mmask16 lt = _mm512_cmp_ps_mask(o.best, best, _CMP_LT_OQ);
    second = _mm512_min_ps(_mm512_min_ps(second, o.second), _mm512_max_ps(best, o.best));
    best = _mm512_mask_blend_ps(lt, best, o.best);
    index = _mm512_mask_blend_epi32(lt, index, o.index);
  }
};

// Whether each lane's winner is clear: the runner-up trails by more than `tolerance` and the
// winner lies below `below` (NaN, infinite or huge values never are clear).
__attribute__((target("avx512f"))) inline __mmask16 clearWinners(const Least16& l, __m512 tolerance, __m512 below) {
  return _mm512_cmp_ps_mask(_mm512_sub_ps(l.second, l.best), tolerance, _CMP_GT_OQ) &
         _mm512_cmp_ps_mask(l.best, below, _CMP_LT_OQ);
}

template <int Hi>
__attribute__((target("avx512f,avx512dq"))) inline __m256 plusMinusHalf(__m512 a, __m512 b, __m512 c) {
  __m256 a8 = Hi ? _mm512_extractf32x8_ps(a, 1) : _mm512_castps512_ps256(a);
  __m256 b8 = Hi ? _mm512_extractf32x8_ps(b, 1) : _mm512_castps512_ps256(b);
  __m256 c8 = Hi ? _mm512_extractf32x8_ps(c, 1) : _mm512_castps512_ps256(c);
  return _mm512_cvtpd_ps(_mm512_sub_pd(_mm512_add_pd(_mm512_cvtps_pd(a8), _mm512_cvtps_pd(b8)), _mm512_cvtps_pd(c8)));
}

// float((double(a) + b) - c) in each of 16 lanes: the error-carrying update of a goal or an
// error vector, evaluated as the plain kernels do, rounded once.
__attribute__((target("avx512f,avx512dq"))) inline __m512 plusMinus16(__m512 a, __m512 b, __m512 c) {
  return _mm512_insertf32x8(_mm512_castps256_ps512(plusMinusHalf<0>(a, b, c)), plusMinusHalf<1>(a, b, c), 1);
}

}  // namespace tavrix
