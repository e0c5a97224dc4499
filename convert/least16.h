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

}  // namespace tavrix
