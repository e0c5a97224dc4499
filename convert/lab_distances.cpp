#include "convert/lab_distances.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "convert/simd.h"

// GCC 12's AVX-512 headers build some intrinsics from deliberately undefined vectors.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace tavrix {

PaletteLabSoA::PaletteLabSoA(const PaletteTables& p) {
  for (int j = 0; j < 128; ++j) {
    l[j] = p.lab[j][0], a[j] = p.lab[j][1], b[j] = p.lab[j][2];
    const bool used = j >= kFirstEntry;
    nl[j] = used ? float(-2 * l[j]) : 0, na[j] = used ? float(-2 * a[j]) : 0, nb[j] = used ? float(-2 * b[j]) : 0;
    p2[j] = used ? float(l[j] * l[j] + a[j] * a[j] + b[j] * b[j]) : 1e30f;
    if (used) maxP2 = std::max(maxP2, p2[j]);
  }
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

// The same with lanes = 8 entries.
__attribute__((target("avx512f"))) void distancesRootAvx512(const PaletteLabSoA& pal, const float* lab, float* out) {
  const __m512d ql = _mm512_set1_pd(lab[0]), qa = _mm512_set1_pd(lab[1]), qb = _mm512_set1_pd(lab[2]);
  alignas(64) double sums[8];
  for (int j = 0; j < 128; j += 8) {
    __m512d dl = _mm512_sub_pd(_mm512_load_pd(pal.l + j), ql);
    __m512d da = _mm512_sub_pd(_mm512_load_pd(pal.a + j), qa);
    __m512d db = _mm512_sub_pd(_mm512_load_pd(pal.b + j), qb);
    _mm512_store_pd(sums, _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(dl, dl), _mm512_mul_pd(da, da)), _mm512_mul_pd(db, db)));
    rootsLikePow8(sums, out + j);
  }
}

}  // namespace

__attribute__((target("avx512f"))) void rootsLikePow8(const double* sums, float* out) {
  const __m512d sum = _mm512_loadu_pd(sums);
  const __m512d r = _mm512_sqrt_pd(sum);
  const __m256 f = _mm512_cvtpd_ps(r);
  const __m512i bits = _mm512_castpd_si512(r), two = _mm512_set1_epi64(2);
  const __m256 up = _mm512_cvtpd_ps(_mm512_castsi512_pd(_mm512_add_epi64(bits, two)));
  const __m256 down = _mm512_cvtpd_ps(_mm512_castsi512_pd(_mm512_sub_epi64(bits, two)));
  const int safe = _mm256_movemask_ps(_mm256_and_ps(_mm256_cmp_ps(up, f, _CMP_EQ_OQ), _mm256_cmp_ps(down, f, _CMP_EQ_OQ)));
  _mm256_storeu_ps(out, f);
  if (safe != 0xFF)
    for (int i = 0; i < 8; ++i)
      if (!(safe >> i & 1)) out[i] = float(std::pow(sums[i], 0.5));
}

void labDistancesFast(const PaletteLabSoA& pal, const float* lab, float* out) {
  if (hasAvx512())
    distancesRootAvx512(pal, lab, out);
  else if (hasAvx2())
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

namespace {
double exactLab(const PaletteLabSoA& pal, const float* lab, int j) {
  double dl = pal.l[j] - lab[0], da = pal.a[j] - lab[1], db = pal.b[j] - lab[2];
  return dl * dl + da * da + db * db;
}

// Lanes = 16 entries. The float rank's error stays below 4 roundings of 2 max|p|^2 + |q|^2;
// entries within 16 times that of the least rank are measured exactly in ascending order,
// with the plain search's strict '<' from `start`.
__attribute__((target("avx512f,fma"))) int nearestLabAvx512(const PaletteLabSoA& pal, const float* lab, bool root,
                                                            float start, int none) {
  const __m512 ql = _mm512_set1_ps(lab[0]), qa = _mm512_set1_ps(lab[1]), qb = _mm512_set1_ps(lab[2]);
  __m512 rank[8];
  __m512 least = _mm512_set1_ps(INFINITY);
  for (int i = 0; i < 8; ++i) {
    rank[i] = _mm512_fmadd_ps(ql, _mm512_load_ps(pal.nl + 16 * i),
                              _mm512_fmadd_ps(qa, _mm512_load_ps(pal.na + 16 * i),
                                              _mm512_fmadd_ps(qb, _mm512_load_ps(pal.nb + 16 * i),
                                                              _mm512_load_ps(pal.p2 + 16 * i))));
    least = _mm512_min_ps(least, rank[i]);
  }
  const double q2 = double(lab[0]) * lab[0] + double(lab[1]) * lab[1] + double(lab[2]) * lab[2];
  const float m = _mm512_reduce_min_ps(least);
  const double tolerance = (2.0 * pal.maxP2 + q2 + std::fabs(m) + 1) * 0x1p-18;
  if (!(tolerance < 1e30)) return -2;  // NaN or huge: let the full search answer
  const __m512 limit = _mm512_set1_ps(float(m + tolerance));
  float best = start;
  int chosen = none;
  for (int i = 0; i < 8; ++i)
    for (unsigned hit = _mm512_cmp_ps_mask(rank[i], limit, _CMP_LE_OQ); hit; hit &= hit - 1) {
      const int j = 16 * i + __builtin_ctz(hit);
      if (j < kFirstEntry) continue;
      const double sum = exactLab(pal, lab, j);
      const float d = root ? rootLikePow(sum) : float(sum);
      if (d < best) {
        best = d;
        chosen = j;
      }
    }
  return chosen;
}
}  // namespace

int nearestLab(const PaletteLabSoA& pal, const float* lab, bool root, float start, int none) {
  if (hasAvx512()) {
    const int j = nearestLabAvx512(pal, lab, root, start, none);
    if (j != -2) return j;
  }
  alignas(32) float out[128];
  if (root)
    labDistancesFast(pal, lab, out);
  else
    labDistancesSquaredFast(pal, lab, out);
  return firstLeast(out, start, none);
}

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
