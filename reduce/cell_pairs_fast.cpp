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
  if (half == 0) return;  // filled where read, by the pair search
  const PaletteLabSoA pal(s.palette);
  const int w = s.width();
  parallelBands(s.height(), 8, [&](int y0, int y1) {
    alignas(32) float out[128];
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x) {
        const float* lab = s.labPairs.at(y, x) + 3 * half;
        labDistancesFast(pal, lab, out);
        std::memcpy(s.errors.at(y, x) + 128 * half + kFirstEntry, out + kFirstEntry, 121 * sizeof(float));
      }
  });
}

namespace {

// A cell's pixels, row by row: entry j of the first table is e[p][j], of the second
// e[p][128 + j], read in place from ErrorTable. The first table is filled entry by entry
// as the search needs it (`ready`).
struct Cell {
  int n = 0;
  float* e[64];
  const float* lab[64];  // LabPair 0-2 of each pixel
  const PaletteLabSoA* palette;
  uint64_t ready[2] = {0, 0};

  void need(int j) {
    if (ready[j >> 6] >> (j & 63) & 1) return;
    ready[j >> 6] |= uint64_t(1) << (j & 63);
    for (int p = 0; p < n; ++p) {
      double dl = palette->l[j] - lab[p][0], da = palette->a[j] - lab[p][1], db = palette->b[j] - lab[p][2];
      e[p][j] = rootLikePow(dl * dl + da * da + db * db);
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
  for (int p = 0; p < c.n; ++p) u += std::min(c.e[p][128 + f], c.e[p][128 + s]);
  return u;
}

// A good first guess makes the pruning bite from the start: the pair of the two entries
// nearest to most pixels. Any pair serves for correctness.
Best seedPair(Cell& c) {
  int votes[128] = {};
  for (int p = 0; p < c.n; ++p) ++votes[firstLeast(c.e[p] + 128, INFINITY, kFirstEntry)];
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

TAVRIX_AVX512 void searchAvx512(Cell& c, Best& best) {
  alignas(64) float lanes[16];
  for (int f = kFirstEntry; f < kLastEntry; ++f) {
    for (int s0 = f + 1; s0 <= kLastEntry; s0 += 16) {
      // Lanes past entry 127 start at infinity and load nothing, so they never open.
      const __mmask16 valid = s0 + 16 <= 128 ? __mmask16(0xFFFF) : __mmask16((1u << (128 - s0)) - 1);
      const __m512 bound = _mm512_set1_ps(best.u);
      __m512 u = _mm512_mask_blend_ps(valid, _mm512_set1_ps(INFINITY), _mm512_setzero_ps());
      bool pruned = false;
      for (int p = 0; p < c.n; p += 4) {
        for (int q = p; q < p + 4; ++q) {
          const float* b = c.e[q] + 128;
          u = _mm512_add_ps(u, _mm512_min_ps(_mm512_set1_ps(b[f]), _mm512_maskz_loadu_ps(valid, b + s0)));
        }
        if (_mm512_cmp_ps_mask(u, bound, _CMP_GT_OQ) == 0xFFFF) {
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
          const float* b = c.e[q] + 128;
          u = _mm256_add_ps(u, _mm256_min_ps(_mm256_set1_ps(b[f]), _mm256_maskload_ps(b + s0, load)));
        }
        if (_mm256_movemask_ps(_mm256_cmp_ps(u, bound, _CMP_GT_OQ)) == 0xFF) {
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
      for (; p < c.n && u <= best.u; ++p) u += std::min(c.e[p][128 + f], c.e[p][128 + s]);
      if (p == c.n) consider(c, best, f, s, u);
    }
}

}  // namespace

CellPair selectCellPairFast(ConversionState& s, CellWindow win, const PaletteLabSoA& lanes) {
  Cell c;
  c.palette = &lanes;
  for (int y = win.r0; y <= win.r1; ++y)
    for (int x = win.x0; x <= win.x1; ++x) {
      c.lab[c.n] = s.labPairs.dithered(y, x);
      c.e[c.n++] = s.errors.at(y, x);
    }
  Best best = seedPair(c);
  if (c.n % 4 != 0)
    searchScalar(c, best);
  else if (hasAvx512())
    searchAvx512(c, best);
  else if (hasAvx2())
    searchAvx2(c, best);
  else
    searchScalar(c, best);
  return {best.first, best.second};
}

}  // namespace tavrix
