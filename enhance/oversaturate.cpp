#include "enhance/oversaturate.h"

#include <algorithm>

namespace tavrix {

void oversaturatePixel(const float in[3], float k, float out[3]) {
  const float r = in[0], g = in[1], b = in[2];
  float y = float(0.2126 * r + 0.7152 * g + 0.0722 * b);
  float p[3];
  for (int c = 0; c < 3; ++c) p[c] = float(double(in[c]) * k - double(y) * (double(k) - 1));

  float hi = std::max({p[0], p[1], p[2]});
  if (hi > 1) {
    float m = std::max({r, g, b});
    float t = float((1 - double(m)) / (double(hi) - m));
    for (int c = 0; c < 3; ++c) p[c] = float(double(p[c]) * t + double(in[c]) * (1 - double(t)));
  }
  float lo = std::min({p[0], p[1], p[2]});
  if (lo < 0) {
    float n = std::min({r, g, b});
    float t = float(double(n) / (double(n) - lo));
    for (int c = 0; c < 3; ++c) p[c] = float(double(p[c]) * t + double(in[c]) * (1 - double(t)));
  }
  for (int c = 0; c < 3; ++c) out[c] = p[c];
}

void oversaturate(ConversionState& s) {
  const float k = float(s.settings.oversaturatePercent / 100.0);
  float lin[256];
  for (int v = 0; v < 256; ++v) lin[v] = srgbToLinear(v);
  auto rows = [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < s.width(); ++x) {
        const uint8_t* src = s.sourceBytes.at(y, x);
        float in[3] = {lin[src[0]], lin[src[1]], lin[src[2]]}, out[3];
        oversaturatePixel(in, k, out);
        float* w = s.work.at(y, x);
        for (int c = 0; c < 3; ++c) w[c] = w[c + 3] = w[c + 6] = out[c];
      }
  };
  // Every pixel stands alone: the fast kernels take the rows on every core.
  if (s.kernels == Kernels::Fast)
    parallelBands(s.height(), 16, rows);
  else
    rows(0, s.height());
}

}  // namespace tavrix
