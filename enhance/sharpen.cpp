#include "enhance/sharpen.h"

#include <algorithm>

namespace tavrix {

void boxPass(ConversionState& s, int from, int to) {
  const int h = s.height(), w = s.width();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int y0 = std::max(0, y - 2), y1 = std::min(h - 1, y + 2);
      const int x0 = std::max(0, x - 2), x1 = std::min(w - 1, x + 2);
      const int n = (y1 - y0 + 1) * (x1 - x0 + 1);
      // A direct sum per window in a float accumulator, rows outer: every build agrees.
      float sum[3] = {0, 0, 0};
      for (int wy = y0; wy <= y1; ++wy)
        for (int wx = x0; wx <= x1; ++wx) {
          const float* v = s.work.at(wy, wx) + from;
          for (int c = 0; c < 3; ++c) sum[c] = float(double(sum[c]) + v[c]);
        }
      float* d = s.work.at(y, x) + to;
      for (int c = 0; c < 3; ++c) d[c] = float(double(sum[c]) / n);
    }
}

void sharpen(ConversionState& s) {
  const int h = s.height(), w = s.width();
  if (s.settings.sharpen > 0) {
    if (s.kernels == Kernels::Fast) {
      sharpenPassesFast(s);
    } else {
      boxPass(s, 0, 3);
      boxPass(s, 3, 9);
      boxPass(s, 9, 3);
      boxPass(s, 3, 9);  // slots 9-11: the colour blurred four times
    }
  }
  // Pixel by pixel: the fast kernels take the rows on every core.
  auto mix = [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x) {
        float* p = s.work.at(y, x);
        for (int c = 0; c < 3; ++c) {
          if (s.settings.sharpen > 0) p[c] = std::clamp(float(2 * double(p[c]) - p[c + 9]), 0.0f, 1.0f);
          // Without sharpening slot c equals slot c + 6, so this gives it back bit for bit.
          p[c] = float((3 * double(p[c]) + p[c + 6]) / 4);
          if (s.settings.sharpen == 1) p[c] = float((double(p[c]) + p[c + 6]) / 2);
          p[c + 3] = p[c];
        }
      }
  };
  if (s.kernels == Kernels::Fast)
    parallelBands(h, 16, mix);
  else
    mix(0, h);
}

}  // namespace tavrix
