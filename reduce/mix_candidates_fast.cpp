// mix_candidates_fast.cpp: bit-exact with mix_candidates.cpp.
// With AVX-512, lanes = 16 pixels making their choices side by side (mix16). Otherwise each
// nearest-entry search first measures all entries in float (lanes = 8 entries). Either way a
// float result is trusted only where the least distance is clear of every other by a margin
// wider than both roundings can move a distance; elsewhere the entries within that margin
// are measured exactly, in ascending order with the plain search's strict '<'. Rows of
// pixels run on every core.
// GCC 12's AVX-512 headers build some intrinsics from deliberately undefined vectors.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <algorithm>

#include <cmath>

#include "convert/least16.h"
#include "convert/memo.h"
#include "convert/simd.h"
#include "reduce/mix_candidates.h"

namespace tavrix {

namespace {

struct MatchSoA {
  alignas(64) float r[128], g[128], b[128];
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

// The same search with 16 entries per lane set.
__attribute__((target("avx512f"))) int nearestAvx512(const MatchSoA& m, const PaletteTables& palette,
                                                     const float goal[3]) {
  const __m512 gr = _mm512_set1_ps(goal[0]), gg = _mm512_set1_ps(goal[1]), gb = _mm512_set1_ps(goal[2]);
  __m512 d[8];
  __m512 least = _mm512_set1_ps(INFINITY);
  for (int i = 0; i < 8; ++i) {
    __m512 dr = _mm512_sub_ps(gr, _mm512_load_ps(m.r + 16 * i));
    __m512 dg = _mm512_sub_ps(gg, _mm512_load_ps(m.g + 16 * i));
    __m512 db = _mm512_sub_ps(gb, _mm512_load_ps(m.b + 16 * i));
    d[i] = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(dr, dr), _mm512_mul_ps(dg, dg)), _mm512_mul_ps(db, db));
    least = _mm512_min_ps(least, d[i]);
  }
  const float threshold = float(double(_mm512_reduce_min_ps(least)) * kMargin + 1e-30);
  const __m512 t = _mm512_set1_ps(threshold);
  uint64_t lo = 0, hi = 0;
  for (int i = 0; i < 8; ++i) {
    uint64_t bits = _mm512_cmp_ps_mask(d[i], t, _CMP_LE_OQ);
    if (i < 4)
      lo |= bits << (16 * i);
    else
      hi |= bits << (16 * (i - 4));
  }
  return nearestExact(palette, goal, lo, hi);
}

// Lanes = 16 pixels, each making its own 16 choices. A choice is taken from the float
// distances when the least is clear of the runner-up by more than any rounding could
// move them; otherwise the lane asks the exact search. The goal and sum updates are the
// plain double expressions, rounded once.
struct MixTables {
  alignas(64) float mr[128], mg[128], mb[128];  // matching colours (gathered by entry)
  alignas(64) float dr[128], dg[128], db[128];  // displayed colours
  // The float pass ranks entries by |m|^2 - 2 g.m, which orders them as |g - m|^2 does, in
  // three fused steps; its error stays below 4 roundings of 2 max|m|^2 + |g|^2.
  alignas(64) float nr[128], ng[128], nb[128], m2[128];
  float maxM2 = 0;
  // Entries 7..127 by ascending lightness. No two of them share a lightness in this
  // palette, and then every sort agrees with the plain exchange sort; `ranked` is false
  // if that ever stops being true.
  uint8_t rank[128], byRank[128];
  bool ranked = true;
  explicit MixTables(const PaletteTables& p) {
    int n = 0;
    for (int j = kFirstEntry; j <= kLastEntry; ++j) byRank[n++] = uint8_t(j);
    std::sort(byRank, byRank + n, [&](uint8_t a, uint8_t b) { return p.lab[a][0] < p.lab[b][0]; });
    for (int r = 0; r < n; ++r) {
      rank[byRank[r]] = uint8_t(r);
      if (r > 0 && !(p.lab[byRank[r - 1]][0] < p.lab[byRank[r]][0])) ranked = false;
    }
    for (int j = 0; j < 128; ++j) {
      mr[j] = p.match(j)[0], mg[j] = p.match(j)[1], mb[j] = p.match(j)[2];
      dr[j] = p.display(j)[0], dg[j] = p.display(j)[1], db[j] = p.display(j)[2];
      nr[j] = -2 * mr[j], ng[j] = -2 * mg[j], nb[j] = -2 * mb[j];
      m2[j] = float(double(mr[j]) * mr[j] + double(mg[j]) * mg[j] + double(mb[j]) * mb[j]);
      if (j >= kFirstEntry) maxM2 = std::max(maxM2, m2[j]);
    }
  }
};

// |m_j|^2 - 2 g.m_j for 16 goals.
__attribute__((target("avx512f,fma"))) inline __m512 rank16(const MixTables& tb, __m512 gr, __m512 gg, __m512 gb,
                                                            int j) {
  return _mm512_fmadd_ps(gr, _mm512_set1_ps(tb.nr[j]),
                         _mm512_fmadd_ps(gg, _mm512_set1_ps(tb.ng[j]),
                                         _mm512_fmadd_ps(gb, _mm512_set1_ps(tb.nb[j]), _mm512_set1_ps(tb.m2[j]))));
}


__attribute__((target("avx512f,avx512dq,fma"))) void mix16(const MixTables& tb, const MatchSoA& soa,
                                                      const PaletteTables& palette, const float target[3][16],
                                                      uint8_t order[16][16], float sum[3][16]) {
  const __m512 tr = _mm512_loadu_ps(target[0]), tg = _mm512_loadu_ps(target[1]), tbl = _mm512_loadu_ps(target[2]);
  __m512 gr = tr, gg = tg, gb = tbl;
  __m512 sr = _mm512_setzero_ps(), sg = sr, sb = sr;
  alignas(64) float lanes[3][16];
  alignas(64) int chosen[16];
  for (int k = 0; k < 16; ++k) {
    // Four interleaved runs of the entries keep four comparison chains in flight.
    Least16 run0(kFirstEntry), run1(kFirstEntry), run2(kFirstEntry), run3(kFirstEntry);
    int j = kFirstEntry;
    for (; j + 3 <= kLastEntry; j += 4) {
      run0.add(rank16(tb, gr, gg, gb, j), j);
      run1.add(rank16(tb, gr, gg, gb, j + 1), j + 1);
      run2.add(rank16(tb, gr, gg, gb, j + 2), j + 2);
      run3.add(rank16(tb, gr, gg, gb, j + 3), j + 3);
    }
    for (; j <= kLastEntry; ++j) run0.add(rank16(tb, gr, gg, gb, j), j);
    run0.merge(run1);
    run2.merge(run3);
    run0.merge(run2);
    __m512i idx = run0.index;
    // Clear: the runner-up trails by more than eight times the float pass's error.
    const __m512 g2 = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(gr, gr), _mm512_mul_ps(gg, gg)), _mm512_mul_ps(gb, gb));
    const __m512 scale = _mm512_add_ps(_mm512_add_ps(g2, _mm512_abs_ps(run0.best)), _mm512_set1_ps(2 * tb.maxM2 + 1));
    // The exact search starts from 1e10: the winner's true distance, rank + |g|^2, must be below.
    const __m512 below = _mm512_sub_ps(_mm512_set1_ps(1e9f), g2);
    const __mmask16 clear = clearWinners(run0, _mm512_mul_ps(scale, _mm512_set1_ps(0x1p-18f)), below);
    _mm512_store_si512(chosen, idx);
    if (unsigned unclear = ~unsigned(clear) & 0xFFFF) {
      _mm512_store_ps(lanes[0], gr);
      _mm512_store_ps(lanes[1], gg);
      _mm512_store_ps(lanes[2], gb);
      for (int i = 0; i < 16; ++i)
        if (unclear >> i & 1) {
          const float goal[3] = {lanes[0][i], lanes[1][i], lanes[2][i]};
          chosen[i] = nearestAvx512(soa, palette, goal);
        }
      idx = _mm512_load_si512(chosen);
    }
    for (int i = 0; i < 16; ++i) order[i][k] = uint8_t(chosen[i]);
    gr = plusMinus16(gr, tr, _mm512_i32gather_ps(idx, tb.mr, 4));
    gg = plusMinus16(gg, tg, _mm512_i32gather_ps(idx, tb.mg, 4));
    gb = plusMinus16(gb, tbl, _mm512_i32gather_ps(idx, tb.mb, 4));
    sr = _mm512_add_ps(sr, _mm512_i32gather_ps(idx, tb.dr, 4));  // a float sum rounds as double-then-float
    sg = _mm512_add_ps(sg, _mm512_i32gather_ps(idx, tb.dg, 4));
    sb = _mm512_add_ps(sb, _mm512_i32gather_ps(idx, tb.db, 4));
  }
  _mm512_storeu_ps(sum[0], sr);
  _mm512_storeu_ps(sum[1], sg);
  _mm512_storeu_ps(sum[2], sb);
}

// The plan's order, lightness sort and mean from the choices and the sum of displayed colours.
MixResult finishPlan(const MixTables& tb, const PaletteTables& palette, const uint8_t order[16], const float sum[3]) {
  MixResult r;
  for (int i = 0; i < 16; ++i) r.order[i] = r.sorted[i] = order[i];
  if (tb.ranked) {
    // Count the entries by rank, then read the ranks out in order.
    uint64_t present[2] = {0, 0};
    uint8_t count[128];
    for (int i = 0; i < 16; ++i) count[tb.rank[order[i]]] = 0;
    for (int i = 0; i < 16; ++i) {
      const int k = tb.rank[order[i]];
      present[k >> 6] |= uint64_t(1) << (k & 63);
      ++count[k];
    }
    int out = 0;
    for (int half = 0; half < 2; ++half)
      for (uint64_t m = present[half]; m; m &= m - 1) {
        const int k = 64 * half + __builtin_ctzll(m);
        for (int c = 0; c < count[k]; ++c) r.sorted[out++] = tb.byRank[k];
      }
  } else {
    for (int i = 0; i < 15; ++i)
      for (int j = i + 1; j < 16; ++j)
        if (palette.lab[r.sorted[i]][0] > palette.lab[r.sorted[j]][0]) std::swap(r.sorted[i], r.sorted[j]);
  }
  for (int c = 0; c < 3; ++c) r.mean[c] = float(double(sum[c]) / 16);
  return r;
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
  const MixTables tables(s.palette);
  const bool avx2 = hasAvx2(), avx512 = hasAvx512();
  const int w = s.width();
  auto store = [&](int y, int x, const MixResult& r) {
    uint8_t* list = s.candidates.at(y, x);
    for (int i = 0; i < 16; ++i) list[i] = r.sorted[i];
    float* wp = s.work.working(y, x);
    for (int c = 0; c < 3; ++c) wp[c] = r.mean[c];
    static thread_local SrgbMemo srgb;  // means of palette colours repeat
    s.result->row(y)[x] = rgbWord(srgb(r.mean[0]), srgb(r.mean[1]), srgb(r.mean[2]));
  };
  parallelBands(s.height(), 4, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      if (avx512) {
        for (int x0 = 0; x0 < w; x0 += 16) {
          const int n = std::min(16, w - x0);
          float target[3][16], sum[3][16];
          uint8_t order[16][16];
          for (int i = 0; i < 16; ++i) {
            const float* t = s.work.target(y, x0 + std::min(i, n - 1));  // spare lanes repeat a pixel
            for (int c = 0; c < 3; ++c) target[c][i] = t[c];
          }
          mix16(tables, soa, s.palette, target, order, sum);
          for (int i = 0; i < n; ++i) {
            const float lane[3] = {sum[0][i], sum[1][i], sum[2][i]};
            store(y, x0 + i, finishPlan(tables, s.palette, order[i], lane));
          }
        }
        continue;
      }
      for (int x = 0; x < w; ++x)
        store(y, x, mixPixel(s.palette, s.work.target(y, x), [&](const float goal[3]) {
                return avx2 ? nearestAvx2(soa, s.palette, goal) : nearestScalar(soa, s.palette, goal);
              }));
    }
  });
}

}  // namespace tavrix
