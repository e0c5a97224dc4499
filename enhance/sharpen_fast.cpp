// sharpen_fast.cpp: bit-exact with sharpen.cpp. The four box passes run on planes of one
// component, converted once in and once out; lanes = 8 consecutive pixels of a row, each
// summing its own window rows outer, columns inner, exactly as the plain loop does (a float
// add rounds as the plain double-then-float one). The two columns at each edge, whose
// windows are clipped, take the plain loop. Rows run on every core.
#include <immintrin.h>

#include <algorithm>
#include <vector>

#include "convert/simd.h"
#include "enhance/sharpen.h"

namespace tavrix {

namespace {

struct Planes {
  int w, h;
  std::vector<float> v;
  Planes(int width, int height) : w(width), h(height), v(size_t(3) * size_t(width) * size_t(height)) {}
  float* row(int c, int y) { return v.data() + (size_t(c) * size_t(h) + size_t(y)) * size_t(w); }
};

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

void boxPlanes(Planes& in, Planes& out) {
  const int w = in.w, h = in.h;
  parallelBands(h, 8, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const int top = std::max(0, y - 2), bottom = std::min(h - 1, y + 2), n = bottom - top + 1;
      for (int c = 0; c < 3; ++c) {
        const float* rows[5];
        for (int r = 0; r < n; ++r) rows[r] = in.row(c, top + r);
        float* o = out.row(c, y);
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
}

}  // namespace

void sharpenPassesFast(ConversionState& s) {
  const int h = s.height(), w = s.width();
  if (!hasAvx2() || w < 5) {
    boxPass(s, 0, 3);
    boxPass(s, 3, 9);
    boxPass(s, 9, 3);
    boxPass(s, 3, 9);
    return;
  }
  Planes source(w, h), a(w, h), b(w, h);
  parallelBands(h, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) source.row(c, y)[x] = s.work.at(y, x)[c];
  });
  boxPlanes(source, a);  // slots 0-2 to 3-5
  boxPlanes(a, b);       // 3-5 to 9-11
  boxPlanes(b, a);       // 9-11 to 3-5
  boxPlanes(a, b);       // 3-5 to 9-11: the colour blurred four times
  parallelBands(h, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          s.work.at(y, x)[3 + c] = a.row(c, y)[x];
          s.work.at(y, x)[9 + c] = b.row(c, y)[x];
        }
  });
}

}  // namespace tavrix
