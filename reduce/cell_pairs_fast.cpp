// cell_pairs_fast.cpp: bit-exact with cell_pairs.cpp.
// Error tables: lanes = 4 palette entries; float(pow(s, 0.5)) through the checked hardware root.
// Pair search: lanes = 8 consecutive `second` entries, each lane summing its pixels in row-major
// order exactly as the plain loop does; a row of pairs stops once every lane's partial sum
// already exceeds the best sum (the terms are never negative, so float partial sums only grow).
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "convert/lab_distances.h"
#include "convert/simd.h"
#include "reduce/cell_pairs.h"

namespace tavrix {

void buildErrorTableFast(ConversionState& s, int half) {
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

constexpr int kPad = 136;  // room for the last block of 8 seconds; padding is +infinity

struct CellTables {
  int n = 0;
  alignas(32) float a[64][kPad];  // first error table (LabPair 0-2)
  alignas(32) float b[64][kPad];  // second error table (LabPair 3-5)
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

float sumT(const CellTables& c, int f, int s) {
  float t = 0;
  for (int p = 0; p < c.n; ++p) t += std::min(c.a[p][f], c.a[p][s]);
  return t;
}
float sumU(const CellTables& c, int f, int s) {
  float u = 0;
  for (int p = 0; p < c.n; ++p) u += std::min(c.b[p][f], c.b[p][s]);
  return u;
}

// A good first guess makes the pruning bite from the start: the pair of the two entries
// nearest to most pixels. Any pair serves for correctness.
Best seedPair(const CellTables& c) {
  int votes[128] = {};
  for (int p = 0; p < c.n; ++p) {
    int nearest = kFirstEntry;
    for (int j = kFirstEntry + 1; j <= kLastEntry; ++j)
      if (c.b[p][j] < c.b[p][nearest]) nearest = j;
    ++votes[nearest];
  }
  int e1 = kFirstEntry;
  for (int j = kFirstEntry; j <= kLastEntry; ++j)
    if (votes[j] > votes[e1]) e1 = j;
  int e2 = e1 == kFirstEntry ? kFirstEntry + 1 : kFirstEntry;
  for (int j = kFirstEntry; j <= kLastEntry; ++j)
    if (j != e1 && votes[j] > votes[e2]) e2 = j;
  int f = std::min(e1, e2), s = std::max(e1, e2);
  return {sumU(c, f, s), sumT(c, f, s), f, s};
}

void consider(const CellTables& c, Best& best, int f, int s, float u) {
  if (u > best.u) return;
  float t = sumT(c, f, s);
  if (best.beatenBy(u, t, f, s)) best = {u, t, f, s};
}

__attribute__((target("avx2"))) void searchAvx2(const CellTables& c, Best& best) {
  alignas(32) float lanes[8];
  for (int f = kFirstEntry; f < kLastEntry; ++f) {
    for (int s0 = f + 1; s0 <= kLastEntry; s0 += 8) {
      const __m256 bound = _mm256_set1_ps(best.u);
      __m256 u = _mm256_setzero_ps();
      bool pruned = false;
      for (int p = 0; p < c.n; p += 4) {
        for (int q = p; q < p + 4; ++q)
          u = _mm256_add_ps(u, _mm256_min_ps(_mm256_set1_ps(c.b[q][f]), _mm256_loadu_ps(&c.b[q][s0])));
        if (_mm256_movemask_ps(_mm256_cmp_ps(u, bound, _CMP_GT_OQ)) == 0xFF) {
          pruned = true;
          break;
        }
      }
      if (pruned) continue;
      int open = _mm256_movemask_ps(_mm256_cmp_ps(u, bound, _CMP_LE_OQ));
      if (!open) continue;
      _mm256_store_ps(lanes, u);
      for (int i = 0; i < 8 && s0 + i <= kLastEntry; ++i)
        if (open >> i & 1) consider(c, best, f, s0 + i, lanes[i]);
    }
  }
}

void searchScalar(const CellTables& c, Best& best) {
  for (int f = kFirstEntry; f < kLastEntry; ++f)
    for (int s = f + 1; s <= kLastEntry; ++s) {
      float u = 0;
      int p = 0;
      for (; p < c.n && u <= best.u; ++p) u += std::min(c.b[p][f], c.b[p][s]);
      if (p == c.n) consider(c, best, f, s, u);
    }
}

}  // namespace

CellPair selectCellPairFast(const ConversionState& s, CellWindow win) {
  static thread_local CellTables c;
  c.n = 0;
  for (int y = win.r0; y <= win.r1; ++y)
    for (int x = win.x0; x <= win.x1; ++x, ++c.n) {
      const float* e = s.errors.at(y, x);
      std::copy(e, e + 128, c.a[c.n]);
      std::copy(e + 128, e + 256, c.b[c.n]);
      std::fill(c.a[c.n] + 128, c.a[c.n] + kPad, INFINITY);
      std::fill(c.b[c.n] + 128, c.b[c.n] + kPad, INFINITY);
    }
  Best best = seedPair(c);
  if (hasAvx2() && c.n % 4 == 0)
    searchAvx2(c, best);
  else
    searchScalar(c, best);
  return {best.first, best.second};
}

}  // namespace tavrix
