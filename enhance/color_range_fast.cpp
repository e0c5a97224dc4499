// color_range_fast.cpp: bit-exact with color_range.cpp. Lanes = 8 pixels, each making its own
// 128 sequential choices. A choice is taken from the float distances when the least one is
// clear of the runner-up by a margin wider than any rounding; otherwise that lane's choice is
// made by the exact search. Every update is the plain one's double expression, rounded once.
#include <immintrin.h>

#include <cmath>
#include <cstring>

#include "convert/least16.h"
#include "convert/simd.h"
#include "enhance/color_range.h"

namespace tavrix {

namespace {

constexpr double kMargin = 1.0 + 1.0 / 65536;

struct Tables {
  alignas(64) float r[16], g[16], b[16];     // targets for the float pass; a repeated target is
  alignas(64) float tr[16], tg[16], tb[16];  // pushed far away, since the earlier one always wins
  alignas(64) float sr[16], sg[16], sb[16];
  explicit Tables(const ConversionState& s) {
    for (int j = 0; j < 16; ++j) {
      tr[j] = r[j] = s.rangeTargets[j][0];
      tg[j] = g[j] = s.rangeTargets[j][1];
      tb[j] = b[j] = s.rangeTargets[j][2];
      sr[j] = s.rangeSources[j][0];
      sg[j] = s.rangeSources[j][1];
      sb[j] = s.rangeSources[j][2];
      for (int k = 0; k < j; ++k)
        if (std::memcmp(s.rangeTargets[k], s.rangeTargets[j], 3 * sizeof(float)) == 0) r[j] = g[j] = b[j] = 1e18f;
    }
  }
};

__attribute__((target("avx2"))) inline __m256 pick(const float* table, __m256i idx) {
  __m256 lo = _mm256_permutevar8x32_ps(_mm256_load_ps(table), idx);
  __m256 hi = _mm256_permutevar8x32_ps(_mm256_load_ps(table + 8), idx);
  __m256 upper = _mm256_castsi256_ps(_mm256_cmpgt_epi32(idx, _mm256_set1_epi32(7)));
  return _mm256_blendv_ps(lo, hi, upper);
}

// float((double(e) + t) - r), lane by lane.
__attribute__((target("avx2"))) inline __m256 step(__m256 e, __m256 t, __m256 r) {
  __m256d lo = _mm256_sub_pd(_mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(e)), _mm256_cvtps_pd(_mm256_castps256_ps128(t))),
                             _mm256_cvtps_pd(_mm256_castps256_ps128(r)));
  __m256d hi = _mm256_sub_pd(_mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(e, 1)), _mm256_cvtps_pd(_mm256_extractf128_ps(t, 1))),
                             _mm256_cvtps_pd(_mm256_extractf128_ps(r, 1)));
  return _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
}

// Eight targets t (SoA) to eight results (SoA).
__attribute__((target("avx2"))) void decompose8(const ConversionState& s, const Tables& tb, const float t[3][16],
                                                float out[3][16]) {
  const __m256 tr = _mm256_loadu_ps(t[0]), tg = _mm256_loadu_ps(t[1]), tbl = _mm256_loadu_ps(t[2]);
  __m256 er = tr, eg = tg, eb = tbl;
  __m256 ar = _mm256_setzero_ps(), ag = ar, ab = ar;
  alignas(32) float lanes[3][8];
  alignas(32) int chosen[8];
  for (int n = 0; n < 128; ++n) {
    __m256 best = _mm256_set1_ps(INFINITY), second = best;
    __m256i idx = _mm256_setzero_si256();
    for (int j = 0; j < 16; ++j) {
      __m256 dr = _mm256_sub_ps(er, _mm256_set1_ps(tb.r[j]));
      __m256 dg = _mm256_sub_ps(eg, _mm256_set1_ps(tb.g[j]));
      __m256 db = _mm256_sub_ps(eb, _mm256_set1_ps(tb.b[j]));
      __m256 d = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(dr, dr), _mm256_mul_ps(dg, dg)), _mm256_mul_ps(db, db));
      __m256 lt = _mm256_cmp_ps(d, best, _CMP_LT_OQ);
      second = _mm256_blendv_ps(_mm256_min_ps(second, d), best, lt);
      best = _mm256_blendv_ps(best, d, lt);
      idx = _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(idx), _mm256_castsi256_ps(_mm256_set1_epi32(j)), lt));
    }
    // Clear: the runner-up lies beyond the margin (NaN or huge distances never are clear).
    __m256 limit = _mm256_add_ps(_mm256_mul_ps(best, _mm256_set1_ps(float(kMargin))), _mm256_set1_ps(1e-30f));
    __m256 clear = _mm256_and_ps(_mm256_cmp_ps(second, limit, _CMP_GT_OQ), _mm256_cmp_ps(best, _mm256_set1_ps(1e9f), _CMP_LT_OQ));
    int unclear = ~_mm256_movemask_ps(clear) & 0xFF;
    if (unclear) {
      _mm256_store_ps(lanes[0], er);
      _mm256_store_ps(lanes[1], eg);
      _mm256_store_ps(lanes[2], eb);
      _mm256_store_si256(reinterpret_cast<__m256i*>(chosen), idx);
      for (int i = 0; i < 8; ++i)
        if (unclear >> i & 1) {
          const float e[3] = {lanes[0][i], lanes[1][i], lanes[2][i]};
          chosen[i] = nearestRangeTarget(s, e);
        }
      idx = _mm256_load_si256(reinterpret_cast<const __m256i*>(chosen));
    }
    er = step(er, tr, pick(tb.tr, idx));
    eg = step(eg, tg, pick(tb.tg, idx));
    eb = step(eb, tbl, pick(tb.tb, idx));
    ar = _mm256_add_ps(ar, pick(tb.sr, idx));  // a float sum rounds exactly as double-then-float
    ag = _mm256_add_ps(ag, pick(tb.sg, idx));
    ab = _mm256_add_ps(ab, pick(tb.sb, idx));
  }
  const __m256 n = _mm256_set1_ps(128);
  _mm256_storeu_ps(out[0], _mm256_div_ps(ar, n));
  _mm256_storeu_ps(out[1], _mm256_div_ps(ag, n));
  _mm256_storeu_ps(out[2], _mm256_div_ps(ab, n));
}


#define TAVRIX_AVX512 __attribute__((target("avx512f,avx512dq")))
// GCC 12's AVX-512 headers build some intrinsics from deliberately undefined vectors.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"


// The least and second least distance of 16 lanes, with the target's number in the low four
// bits of the least one's bit pattern: non-negative floats order as their bits do, so a key is
// one integer minimum. Clearing four bits moves a distance by under 2^-19 of itself, well
// inside the margin that decides whether the float winner can be trusted.
struct LeastKey16 {
  __m512i best, second;
  TAVRIX_AVX512 LeastKey16() : best(_mm512_set1_epi32(-1)), second(best) {}
  TAVRIX_AVX512 void add(__m512 d, int j) {
    // (bits & ~15) | j; a NaN or negative pattern is a huge unsigned key, never the least.
    const __m512i key = _mm512_ternarylogic_epi32(_mm512_castps_si512(d), _mm512_set1_epi32(~15), _mm512_set1_epi32(j), 0xEA);
    second = _mm512_min_epu32(second, _mm512_max_epu32(best, key));
    best = _mm512_min_epu32(best, key);
  }
  TAVRIX_AVX512 void merge(const LeastKey16& o) {
    second = _mm512_min_epu32(_mm512_min_epu32(second, o.second), _mm512_max_epu32(best, o.best));
    best = _mm512_min_epu32(best, o.best);
  }
  TAVRIX_AVX512 __m512i index() const { return _mm512_and_si512(best, _mm512_set1_epi32(15)); }
  TAVRIX_AVX512 __m512 bestDistance() const { return _mm512_castsi512_ps(_mm512_andnot_si512(_mm512_set1_epi32(15), best)); }
  TAVRIX_AVX512 __m512 secondDistance() const { return _mm512_castsi512_ps(_mm512_andnot_si512(_mm512_set1_epi32(15), second)); }
};

// Float squared distances of 16 lanes to target j.
TAVRIX_AVX512 inline __m512 distance16(const Tables& tb, __m512 er, __m512 eg, __m512 eb, int j) {
  __m512 dr = _mm512_sub_ps(er, _mm512_set1_ps(tb.r[j]));
  __m512 dg = _mm512_sub_ps(eg, _mm512_set1_ps(tb.g[j]));
  __m512 db = _mm512_sub_ps(eb, _mm512_set1_ps(tb.b[j]));
  // Fused: fewer roundings than the separate steps, and the margin covers them either way.
  return _mm512_fmadd_ps(dr, dr, _mm512_fmadd_ps(dg, dg, _mm512_mul_ps(db, db)));
}

// Sixteen targets t (SoA) to sixteen results (SoA).
TAVRIX_AVX512 void decompose16(const ConversionState& s, const Tables& tb, const float t[3][16], float out[3][16]) {
  const __m512 tr = _mm512_loadu_ps(t[0]), tg = _mm512_loadu_ps(t[1]), tbl = _mm512_loadu_ps(t[2]);
  const __m512 targetR = _mm512_load_ps(tb.tr), targetG = _mm512_load_ps(tb.tg), targetB = _mm512_load_ps(tb.tb);
  const __m512 sourceR = _mm512_load_ps(tb.sr), sourceG = _mm512_load_ps(tb.sg), sourceB = _mm512_load_ps(tb.sb);
  __m512 er = tr, eg = tg, eb = tbl;
  __m512 ar = _mm512_setzero_ps(), ag = ar, ab = ar;
  alignas(64) float lanes[3][16];
  alignas(64) int chosen[16];
  for (int n = 0; n < 128; ++n) {
    // Two runs of eight targets keep two comparison chains in flight.
    LeastKey16 run0, run1;
    for (int j = 0; j < 16; j += 2) {
      run0.add(distance16(tb, er, eg, eb, j), j);
      run1.add(distance16(tb, er, eg, eb, j + 1), j + 1);
    }
    run0.merge(run1);
    __m512i idx = run0.index();
    // Clear: the runner-up lies beyond the margin.
    const __m512 best = run0.bestDistance();
    const __m512 limit = _mm512_add_ps(_mm512_mul_ps(best, _mm512_set1_ps(float(kMargin))), _mm512_set1_ps(1e-30f));
    unsigned unclear = ~unsigned(_mm512_cmp_ps_mask(run0.secondDistance(), limit, _CMP_GT_OQ) &
                                 _mm512_cmp_ps_mask(best, _mm512_set1_ps(1e9f), _CMP_LT_OQ)) &
                       0xFFFF;
    if (unclear) {
      _mm512_store_ps(lanes[0], er);
      _mm512_store_ps(lanes[1], eg);
      _mm512_store_ps(lanes[2], eb);
      _mm512_store_si512(chosen, idx);
      for (int i = 0; i < 16; ++i)
        if (unclear >> i & 1) {
          const float e[3] = {lanes[0][i], lanes[1][i], lanes[2][i]};
          chosen[i] = nearestRangeTarget(s, e);
        }
      idx = _mm512_load_si512(chosen);
    }
    er = plusMinus16(er, tr, _mm512_permutexvar_ps(idx, targetR));
    eg = plusMinus16(eg, tg, _mm512_permutexvar_ps(idx, targetG));
    eb = plusMinus16(eb, tbl, _mm512_permutexvar_ps(idx, targetB));
    ar = _mm512_add_ps(ar, _mm512_permutexvar_ps(idx, sourceR));
    ag = _mm512_add_ps(ag, _mm512_permutexvar_ps(idx, sourceG));
    ab = _mm512_add_ps(ab, _mm512_permutexvar_ps(idx, sourceB));
  }
  const __m512 n = _mm512_set1_ps(128);
  _mm512_storeu_ps(out[0], _mm512_div_ps(ar, n));
  _mm512_storeu_ps(out[1], _mm512_div_ps(ag, n));
  _mm512_storeu_ps(out[2], _mm512_div_ps(ab, n));
}

}  // namespace

void stretchColorRangeFast(ConversionState& s) {
  buildRangeTables(s);
  const int w = s.width(), h = s.height();
  if (!hasAvx2()) {
    parallelBands(h, 4, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y)
        for (int x = 0; x < w; ++x) {
          float* p = s.work.at(y, x);
          float t[3] = {p[3], p[4], p[5]}, out[3];
          decomposePixel(s, t, out);
          for (int c = 0; c < 3; ++c) p[c] = p[c + 3] = p[c + 6] = out[c];
        }
    });
    return;
  }
  const Tables tables(s);
  const int lanes = hasAvx512() ? 16 : 8;
  parallelBands(h, 4, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x0 = 0; x0 < w; x0 += lanes) {
        const int n = std::min(lanes, w - x0);
        float t[3][16], out[3][16];
        for (int i = 0; i < lanes; ++i) {
          const float* p = s.work.target(y, x0 + std::min(i, n - 1));  // spare lanes repeat a pixel
          for (int c = 0; c < 3; ++c) t[c][i] = p[c];
        }
        if (lanes == 16)
          decompose16(s, tables, t, out);
        else
          decompose8(s, tables, t, out);
        for (int i = 0; i < n; ++i) {
          float* p = s.work.at(y, x0 + i);
          for (int c = 0; c < 3; ++c) p[c] = p[c + 3] = p[c + 6] = out[c][i];
        }
      }
  });
}

}  // namespace tavrix
