#include "convert/lab_distances.h"

#include <immintrin.h>

#include <cmath>

#include "convert/simd.h"

// GCC 12's AVX-512 headers build some intrinsics from deliberately undefined vectors.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace tavrix {

PaletteLabSoA::PaletteLabSoA(const PaletteTables& p) {
  for (int j = 0; j < 128; ++j) l[j] = p.lab[j][0], a[j] = p.lab[j][1], b[j] = p.lab[j][2];
}

namespace {

template <bool Root>
__attribute__((target("avx2"))) void distancesAvx2(const PaletteLabSoA& pal, const float* lab, float* out) {
  const __m256d ql = _mm256_set1_pd(lab[0]), qa = _mm256_set1_pd(lab[1]), qb = _mm256_set1_pd(lab[2]);
  const __m256i two = _mm256_set1_epi64x(2);
  alignas(32) double sums[4];
  for (int j = 4; j < 128; j += 4) {
    __m256d dl = _mm256_sub_pd(_mm256_load_pd(pal.l + j), ql);
    __m256d da = _mm256_sub_pd(_mm256_load_pd(pal.a + j), qa);
    __m256d db = _mm256_sub_pd(_mm256_load_pd(pal.b + j), qb);
    __m256d sum = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dl, dl), _mm256_mul_pd(da, da)), _mm256_mul_pd(db, db));
    if (!Root) {
      _mm_storeu_ps(out + j, _mm256_cvtpd_ps(sum));
      continue;
    }
    // The hardware root, unless a double within two ulps of it rounds to another float.
    __m256d r = _mm256_sqrt_pd(sum);
    __m128 f = _mm256_cvtpd_ps(r);
    __m256i bits = _mm256_castpd_si256(r);
    __m128 up = _mm256_cvtpd_ps(_mm256_castsi256_pd(_mm256_add_epi64(bits, two)));
    __m128 down = _mm256_cvtpd_ps(_mm256_castsi256_pd(_mm256_sub_epi64(bits, two)));
    int safe = _mm_movemask_ps(_mm_and_ps(_mm_cmpeq_ps(up, f), _mm_cmpeq_ps(down, f)));
    _mm_storeu_ps(out + j, f);
    if (safe != 0xF) {
      _mm256_store_pd(sums, sum);
      for (int i = 0; i < 4; ++i)
        if (!(safe >> i & 1)) out[j + i] = float(std::pow(sums[i], 0.5));
    }
  }
}

template <bool Root>
void distancesScalar(const PaletteLabSoA& pal, const float* lab, float* out) {
  for (int j = 4; j < 128; ++j) {
    double dl = pal.l[j] - lab[0], da = pal.a[j] - lab[1], db = pal.b[j] - lab[2];
    double sum = dl * dl + da * da + db * db;
    out[j] = Root ? rootLikePow(sum) : float(sum);
  }
}

}  // namespace

void labDistancesFast(const PaletteLabSoA& pal, const float* lab, float* out) {
  if (hasAvx2())
    distancesAvx2<true>(pal, lab, out);
  else
    distancesScalar<true>(pal, lab, out);
}

void labDistancesSquaredFast(const PaletteLabSoA& pal, const float* lab, float* out) {
  if (hasAvx2())
    distancesAvx2<false>(pal, lab, out);
  else
    distancesScalar<false>(pal, lab, out);
}

namespace {
// The least value of entries 7..127 (NaN counting as infinity, which the strict '<' of the
// plain loop never takes), then its first position.
__attribute__((target("avx512f"))) int firstLeastAvx512(const float* v, float start, int none) {
  const __m512 inf = _mm512_set1_ps(INFINITY);
  __m512 least = inf;
  __m512 lanes[8];
  for (int i = 0; i < 8; ++i) {
    __m512 x = _mm512_loadu_ps(v + 16 * i);
    x = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(x, x, _CMP_UNORD_Q), x, inf);
    if (i == 0) x = _mm512_mask_blend_ps(__mmask16(0x7F), x, inf);  // entries 0..6 take no part
    lanes[i] = x;
    least = _mm512_min_ps(least, x);
  }
  const float m = _mm512_reduce_min_ps(least);
  if (!(m < start)) return none;
  const __m512 mv = _mm512_set1_ps(m);
  for (int i = 0; i < 8; ++i)
    if (unsigned hit = _mm512_cmp_ps_mask(lanes[i], mv, _CMP_EQ_OQ)) return 16 * i + __builtin_ctz(hit);
  return none;
}
}  // namespace

int firstLeast(const float* out, float start, int none) {
  if (hasAvx512()) return firstLeastAvx512(out, start, none);
  float best = start;
  int chosen = none;
  for (int j = kFirstEntry; j <= kLastEntry; ++j)
    if (out[j] < best) {
      best = out[j];
      chosen = j;
    }
  return chosen;
}

}  // namespace tavrix
