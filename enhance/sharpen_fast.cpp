// sharpen_fast.cpp: bit-exact with sharpen.cpp. A box pass works on planes of one
// component; lanes = 8 consecutive pixels of a row, each summing its own window rows
// outer, columns inner, exactly as the plain loop does (a float add rounds as the plain
// double-then-float one). The two columns at each edge, whose windows are clipped, take
// the plain loop. Rows run on every core.
#include <immintrin.h>

#include <algorithm>
#include <vector>

#include "convert/simd.h"
#include "enhance/sharpen.h"

namespace tavrix {

namespace {

__attribute__((target("avx2"))) void interiorAvx2(const float* const* rows, int n, int w, float* out) {
  const __m256 count = _mm256_set1_ps(float(n * 5));
  int x = 2;
  for (; x + 8 <= w - 2; x += 8) {
    __m256 sum = _mm256_setzero_ps();
    for (int r = 0; r < n; ++r)
      for (int dx = -2; dx <= 2; ++dx) sum = _mm256_add_ps(sum, _mm256_loadu_ps(rows[r] + x + dx));
    _mm256_storeu_ps(out + x, _mm256_div_ps(sum, count));
  }
  for (; x < w - 2; ++x) {
    float sum = 0;
    for (int r = 0; r < n; ++r)
      for (int dx = -2; dx <= 2; ++dx) sum += rows[r][x + dx];
    out[x] = float(double(sum) / (n * 5));
  }
}

}  // namespace

void boxPassFast(ConversionState& s, int from, int to) {
  const int h = s.height(), w = s.width();
  if (!hasAvx2() || w < 5) return boxPass(s, from, to);
  std::vector<float> in(size_t(3) * size_t(w) * size_t(h)), out(in.size());
  auto plane = [&](std::vector<float>& p, int c, int y) { return p.data() + (size_t(c) * size_t(h) + size_t(y)) * size_t(w); };
  parallelBands(h, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) plane(in, c, y)[x] = s.work.at(y, x)[from + c];
  });
  parallelBands(h, 8, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const int top = std::max(0, y - 2), bottom = std::min(h - 1, y + 2), n = bottom - top + 1;
      for (int c = 0; c < 3; ++c) {
        const float* rows[5];
        for (int r = 0; r < n; ++r) rows[r] = plane(in, c, top + r);
        float* o = plane(out, c, y);
        interiorAvx2(rows, n, w, o);
        for (int x : {0, 1, w - 2, w - 1}) {  // clipped windows
          const int left = std::max(0, x - 2), right = std::min(w - 1, x + 2);
          float sum = 0;
          for (int r = 0; r < n; ++r)
            for (int wx = left; wx <= right; ++wx) sum = float(double(sum) + rows[r][wx]);
          o[x] = float(double(sum) / (n * (right - left + 1)));
        }
      }
    }
  });
  parallelBands(h, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) s.work.at(y, x)[to + c] = plane(out, c, y)[x];
  });
}

}  // namespace tavrix
