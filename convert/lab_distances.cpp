#include "convert/lab_distances.h"

#include <immintrin.h>

#include <cmath>

#include "convert/simd.h"

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

int firstLeast(const float* out, float start, int none) {
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
