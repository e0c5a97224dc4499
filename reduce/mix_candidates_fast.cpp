// mix_candidates_fast.cpp: bit-exact with mix_candidates.cpp. Each nearest-entry search first
// measures all entries in float (lanes = 8 entries); only entries within a margin of the float
// minimum, wider than both roundings can move a distance, are measured exactly, in ascending
// order with the plain search's strict '<'. Rows of pixels run on every core.
#include <immintrin.h>

#include <cmath>

#include "convert/simd.h"
#include "reduce/mix_candidates.h"

namespace tavrix {

namespace {

struct MatchSoA {
  alignas(32) float r[128], g[128], b[128];
  explicit MatchSoA(const PaletteTables& p) {
    for (int j = 0; j < 128; ++j) {
      // Entries 0..6 take no part: far away, and skipped again in the exact pass.
      const bool used = j >= kFirstEntry;
      r[j] = used ? p.match(j)[0] : 1e18f;
      g[j] = used ? p.match(j)[1] : 1e18f;
      b[j] = used ? p.match(j)[2] : 1e18f;
    }
  }
};

// The float distance is within about 5 float roundings of the exact one, and so is the
// stored (rounded) exact one; 2^-16 relative is far wider than both.
constexpr double kMargin = 1.0 + 1.0 / 65536;

int nearestExact(const PaletteTables& palette, const float goal[3], uint64_t lo, uint64_t hi) {
  float best = float(1e10);
  int chosen = kFirstEntry;
  for (int half = 0; half < 2; ++half)
    for (uint64_t m = half ? hi : lo; m; m &= m - 1) {
      const int j = 64 * half + __builtin_ctzll(m);
      if (j < kFirstEntry) continue;
      float d = rgbDistanceSquared(goal, palette.match(j));
      if (d < best) {
        best = d;
        chosen = j;
      }
    }
  return chosen;
}

__attribute__((target("avx2"))) int nearestAvx2(const MatchSoA& m, const PaletteTables& palette, const float goal[3]) {
  const __m256 gr = _mm256_set1_ps(goal[0]), gg = _mm256_set1_ps(goal[1]), gb = _mm256_set1_ps(goal[2]);
  __m256 d[16];
  __m256 least = _mm256_set1_ps(INFINITY);
  for (int i = 0; i < 16; ++i) {
    __m256 dr = _mm256_sub_ps(gr, _mm256_load_ps(m.r + 8 * i));
    __m256 dg = _mm256_sub_ps(gg, _mm256_load_ps(m.g + 8 * i));
    __m256 db = _mm256_sub_ps(gb, _mm256_load_ps(m.b + 8 * i));
    d[i] = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(dr, dr), _mm256_mul_ps(dg, dg)), _mm256_mul_ps(db, db));
    least = _mm256_min_ps(least, d[i]);
  }
  __m128 l4 = _mm_min_ps(_mm256_castps256_ps128(least), _mm256_extractf128_ps(least, 1));
  l4 = _mm_min_ps(l4, _mm_movehl_ps(l4, l4));
  l4 = _mm_min_ss(l4, _mm_shuffle_ps(l4, l4, 1));
  const float threshold = float(double(_mm_cvtss_f32(l4)) * kMargin + 1e-30);
  const __m256 t = _mm256_set1_ps(threshold);
  uint64_t lo = 0, hi = 0;
  for (int i = 0; i < 16; ++i) {
    uint64_t bits = uint64_t(_mm256_movemask_ps(_mm256_cmp_ps(d[i], t, _CMP_LE_OQ)));
    if (i < 8)
      lo |= bits << (8 * i);
    else
      hi |= bits << (8 * (i - 8));
  }
  return nearestExact(palette, goal, lo, hi);
}

int nearestScalar(const MatchSoA& m, const PaletteTables& palette, const float goal[3]) {
  float d[128], least = INFINITY;
  for (int j = 0; j < 128; ++j) {
    float dr = goal[0] - m.r[j], dg = goal[1] - m.g[j], db = goal[2] - m.b[j];
    d[j] = dr * dr + dg * dg + db * db;
    least = std::fmin(least, d[j]);
  }
  const float threshold = float(double(least) * kMargin + 1e-30);
  uint64_t lo = 0, hi = 0;
  for (int j = 0; j < 128; ++j)
    if (d[j] <= threshold) (j < 64 ? lo : hi) |= uint64_t(1) << (j & 63);
  return nearestExact(palette, goal, lo, hi);
}

}  // namespace

void mixCandidatesFast(ConversionState& s) {
  const MatchSoA soa(s.palette);
  const bool avx2 = hasAvx2();
  const int w = s.width();
  parallelBands(s.height(), 4, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      uint32_t* row = s.result->row(y);
      for (int x = 0; x < w; ++x) {
        MixResult r = mixPixel(s.palette, s.work.target(y, x), [&](const float goal[3]) {
          return avx2 ? nearestAvx2(soa, s.palette, goal) : nearestScalar(soa, s.palette, goal);
        });
        uint8_t* list = s.candidates.at(y, x);
        for (int i = 0; i < 16; ++i) list[i] = r.sorted[i];
        float* wp = s.work.working(y, x);
        for (int c = 0; c < 3; ++c) wp[c] = r.mean[c];
        row[x] = rgbWord(linearToSrgb(r.mean[0]), linearToSrgb(r.mean[1]), linearToSrgb(r.mean[2]));
      }
    }
  });
}

}  // namespace tavrix
