// cell_pairs_fast.cpp: bit-exact with cell_pairs.cpp.
// Error tables: lanes = 4 palette entries; float(pow(s, 0.5)) through the checked hardware root.
// Pair search: lanes = 16 (or 8) consecutive `second` entries, each lane summing its pixels in row-major
// order exactly as the plain loop does; a row of pairs stops once every lane's partial sum
// already exceeds the best sum (the terms are never negative, so float partial sums only grow).
// GCC 12's AVX-512 headers build some intrinsics from deliberately undefined vectors.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "convert/lab_distances.h"
#include "convert/simd.h"
#include "reduce/cell_pairs.h"

namespace tavrix {

void buildErrorTableFast(ConversionState& s, int half) {
  // The pair search measures the second table cell by cell, where it reads it, and fills
  // the first one where it and the encoding read it.
  (void)s, (void)half;
}

namespace {

// A cell's pixels, row by row: entry j of the first table is e[p][j], in ErrorTable, filled
// entry by entry as the search needs it (`ready`); entry j of the second table is b[p][j],
// measured here for the cell alone, since only this search reads it.
struct Cell {
  int n = 0;
  float* e[64];
  alignas(64) float b[64][128];
  alignas(64) double labL[64], labA[64], labB[64];  // LabPair 0-2 of each pixel
  const PaletteLabSoA* palette;
  uint64_t ready[2] = {0, 0};
  // rest[k]: a little less than the sum, over pixels k.., of each pixel's least distance in
  // the second table. A pair whose partial sum over pixels 0..k-1 plus rest[k] exceeds the
  // best sum, by more than the roundings of a float sum of 64 terms (2^-18 relative), can
  // never reach it.
  float rest[65];
  float least[64];  // each pixel's least distance in the second table
  // covers[j], bit p: entry j lies within `slack` of pixel p's least distance. Every term of
  // a pair is at least its pixel's least distance, so a pixel that neither entry of a pair
  // covers adds more than `slack` on top of the least possible sum, which is then beyond
  // the best sum (the slack keeps 2^-16 of it spare for the roundings).
  alignas(64) uint64_t covers[144];

  void need(int j) {
    if (ready[j >> 6] >> (j & 63) & 1) return;
    ready[j >> 6] |= uint64_t(1) << (j & 63);
    if (hasAvx512() && n % 8 == 0) return needAvx512(j);
    for (int p = 0; p < n; ++p) {
      double dl = palette->l[j] - labL[p], da = palette->a[j] - labA[p], db = palette->b[j] - labB[p];
      e[p][j] = rootLikePow(dl * dl + da * da + db * db);
    }
  }

  // The same distances, lanes = 8 pixels, through the checked hardware root.
  __attribute__((target("avx512f"))) void needAvx512(int j) {
    const __m512d pl = _mm512_set1_pd(palette->l[j]), pa = _mm512_set1_pd(palette->a[j]),
                  pb = _mm512_set1_pd(palette->b[j]);
    alignas(64) float out[8];
    alignas(64) double sums[8];
    for (int p = 0; p < n; p += 8) {
      __m512d dl = _mm512_sub_pd(pl, _mm512_load_pd(labL + p));
      __m512d da = _mm512_sub_pd(pa, _mm512_load_pd(labA + p));
      __m512d db = _mm512_sub_pd(pb, _mm512_load_pd(labB + p));
      _mm512_store_pd(sums, _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(dl, dl), _mm512_mul_pd(da, da)), _mm512_mul_pd(db, db)));
      rootsLikePow8(sums, out);
      for (int i = 0; i < 8; ++i) e[p + i][j] = out[i];
    }
  }
};

struct Best {
  float u, t;
  int first, second;
  bool beatenBy(float u2, float t2, int f, int s) const {
    if (u2 != u) return u2 < u;
    if (t2 != t) return t2 < t;
    return f * 128 + s < first * 128 + second;  // the plain search meets the earlier pair first
  }
};

float sumT(Cell& c, int f, int s) {
  c.need(f);
  c.need(s);
  float t = 0;
  for (int p = 0; p < c.n; ++p) t += std::min(c.e[p][f], c.e[p][s]);
  return t;
}
float sumU(const Cell& c, int f, int s) {
  float u = 0;
  for (int p = 0; p < c.n; ++p) u += std::min(c.b[p][f], c.b[p][s]);
  return u;
}

// A good first guess makes the pruning bite from the start: the pair of the two entries
// nearest to most pixels. Any pair serves for correctness.
Best seedPair(Cell& c, double& leastSum) {
  int votes[128] = {};
  double rest = 0;
  c.rest[c.n] = 0;
  for (int p = c.n - 1; p >= 0; --p) {
    const float* b = c.b[p];
    const int nearest = firstLeast(b, INFINITY, kFirstEntry);
    ++votes[nearest];
    c.least[p] = b[nearest];
    rest += b[nearest];
    c.rest[p] = float(rest * (1 - 0x1p-16));
    if (double(c.rest[p]) > rest * (1 - 0x1p-16)) c.rest[p] = std::nextafter(c.rest[p], 0.0f);
  }
  leastSum = rest;
  int e1 = kFirstEntry;
  for (int j = kFirstEntry; j <= kLastEntry; ++j)
    if (votes[j] > votes[e1]) e1 = j;
  int e2 = e1 == kFirstEntry ? kFirstEntry + 1 : kFirstEntry;
  for (int j = kFirstEntry; j <= kLastEntry; ++j)
    if (j != e1 && votes[j] > votes[e2]) e2 = j;
  int f = std::min(e1, e2), s = std::max(e1, e2);
  return {sumU(c, f, s), sumT(c, f, s), f, s};
}

void consider(Cell& c, Best& best, int f, int s, float u) {
  if (u > best.u) return;
  float t = sumT(c, f, s);
  if (best.beatenBy(u, t, f, s)) best = {u, t, f, s};
}

#define TAVRIX_AVX512 __attribute__((target("avx512f")))

TAVRIX_AVX512 void findCovers(Cell& c, float bestU, double leastSum) {
  const double slack = (double(bestU) - leastSum) + double(bestU) * 0x1p-16 + 1e-30;
  std::fill(c.covers, c.covers + 144, uint64_t(0));
  for (int p = 0; p < c.n; ++p) {
    const float* b = c.b[p];
    const __m512 limit = _mm512_set1_ps(float((c.least[p] + slack) * (1 + 0x1p-20)));
    const __m512i bit = _mm512_set1_epi64(int64_t(uint64_t(1) << p));
    for (int j = 0; j < 128; j += 16) {
      const __mmask16 near = _mm512_cmp_ps_mask(_mm512_loadu_ps(b + j), limit, _CMP_LE_OQ);
      const __m512i lo = _mm512_load_si512(c.covers + j), hi = _mm512_load_si512(c.covers + j + 8);
      _mm512_store_si512(c.covers + j, _mm512_mask_or_epi64(lo, __mmask8(near), lo, bit));
      _mm512_store_si512(c.covers + j + 8, _mm512_mask_or_epi64(hi, __mmask8(near >> 8), hi, bit));
    }
  }
}

TAVRIX_AVX512 void searchAvx512(Cell& c, Best& best, double leastSum) {
  alignas(64) float lanes[16];
  findCovers(c, best.u, leastSum);
  const uint64_t all = c.n == 64 ? ~uint64_t(0) : (uint64_t(1) << c.n) - 1;
  for (int f = kFirstEntry; f < kLastEntry; ++f) {
    const __m512i need = _mm512_set1_epi64(int64_t(all & ~c.covers[f]));
    for (int s0 = f + 1; s0 <= kLastEntry; s0 += 16) {
      // Lanes past entry 127 start at infinity and load nothing, so they never open.
      const __mmask16 valid = s0 + 16 <= 128 ? __mmask16(0xFFFF) : __mmask16((1u << (128 - s0)) - 1);
      // Only pairs whose two entries cover every pixel between them can still win.
      const __mmask16 viable =
          (_mm512_cmpeq_epi64_mask(_mm512_and_si512(_mm512_loadu_si512(c.covers + s0), need), need) |
           __mmask16(_mm512_cmpeq_epi64_mask(_mm512_and_si512(_mm512_loadu_si512(c.covers + s0 + 8), need), need))
               << 8) &
          valid;
      if (!viable) continue;
      const __m512 bound = _mm512_set1_ps(best.u);
      __m512 u = _mm512_mask_blend_ps(viable, _mm512_set1_ps(INFINITY), _mm512_setzero_ps());
      bool pruned = false;
      for (int p = 0; p < c.n; p += 4) {
        for (int q = p; q < p + 4; ++q) {
          const float* b = c.b[q];
          u = _mm512_add_ps(u, _mm512_min_ps(_mm512_set1_ps(b[f]), _mm512_maskz_loadu_ps(valid, b + s0)));
        }
        // Lower bound of the full sums: the partial sums plus the least the rest can add.
        const __m512 reach = _mm512_mul_ps(_mm512_add_ps(u, _mm512_set1_ps(c.rest[p + 4])), _mm512_set1_ps(1 - 0x1p-16f));
        if (_mm512_cmp_ps_mask(reach, bound, _CMP_GT_OQ) == 0xFFFF) {
          pruned = true;
          break;
        }
      }
      if (pruned) continue;
      unsigned open = _mm512_cmp_ps_mask(u, bound, _CMP_LE_OQ);
      if (!open) continue;
      _mm512_store_ps(lanes, u);
      for (int i = 0; i < 16; ++i)
        if (open >> i & 1) consider(c, best, f, s0 + i, lanes[i]);
    }
  }
}

__attribute__((target("avx2"))) void searchAvx2(Cell& c, Best& best) {
  alignas(32) float lanes[8];
  for (int f = kFirstEntry; f < kLastEntry; ++f) {
    for (int s0 = f + 1; s0 <= kLastEntry; s0 += 8) {
      const int valid = std::min(8, 128 - s0);
      const __m256i load = _mm256_cmpgt_epi32(_mm256_set1_epi32(valid), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
      const __m256 bound = _mm256_set1_ps(best.u);
      __m256 u = _mm256_blendv_ps(_mm256_set1_ps(INFINITY), _mm256_setzero_ps(), _mm256_castsi256_ps(load));
      bool pruned = false;
      for (int p = 0; p < c.n; p += 4) {
        for (int q = p; q < p + 4; ++q) {
          const float* b = c.b[q];
          u = _mm256_add_ps(u, _mm256_min_ps(_mm256_set1_ps(b[f]), _mm256_maskload_ps(b + s0, load)));
        }
        const __m256 reach = _mm256_mul_ps(_mm256_add_ps(u, _mm256_set1_ps(c.rest[p + 4])), _mm256_set1_ps(1 - 0x1p-16f));
        if (_mm256_movemask_ps(_mm256_cmp_ps(reach, bound, _CMP_GT_OQ)) == 0xFF) {
          pruned = true;
          break;
        }
      }
      if (pruned) continue;
      int open = _mm256_movemask_ps(_mm256_cmp_ps(u, bound, _CMP_LE_OQ));
      if (!open) continue;
      _mm256_store_ps(lanes, u);
      for (int i = 0; i < 8; ++i)
        if (open >> i & 1) consider(c, best, f, s0 + i, lanes[i]);
    }
  }
}

void searchScalar(Cell& c, Best& best) {
  for (int f = kFirstEntry; f < kLastEntry; ++f)
    for (int s = f + 1; s <= kLastEntry; ++s) {
      float u = 0;
      int p = 0;
      for (; p < c.n && u <= best.u; ++p) u += std::min(c.b[p][f], c.b[p][s]);
      if (p == c.n) consider(c, best, f, s, u);
    }
}

}  // namespace

CellPair selectCellPairFast(ConversionState& s, CellWindow win, const PaletteLabSoA& lanes) {
  Cell c;
  c.palette = &lanes;
  for (int y = win.r0; y <= win.r1; ++y)
    for (int x = win.x0; x <= win.x1; ++x) {
      const float* lab = s.labPairs.dithered(y, x);
      c.labL[c.n] = lab[0], c.labA[c.n] = lab[1], c.labB[c.n] = lab[2];
      labDistancesFast(lanes, s.labPairs.mixed(y, x), c.b[c.n]);
      c.e[c.n++] = s.errors.at(y, x);
    }
  double leastSum = 0;
  Best best = seedPair(c, leastSum);
  if (c.n % 4 != 0)
    searchScalar(c, best);
  else if (hasAvx512())
    searchAvx512(c, best, leastSum);
  else if (hasAvx2())
    searchAvx2(c, best);
  else
    searchScalar(c, best);
  return {best.first, best.second};
}

}  // namespace tavrix
