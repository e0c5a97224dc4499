#include "enhance/color_range.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tavrix {

const float kCubeCorners[8][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {0, 1, 1},
                                  {1, 0, 0}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};

void buildRangeTables(ConversionState& s) {
  auto& targets = s.rangeTargets;
  for (int k = 0; k < 8; ++k) targets[k][3] = float(1e13);
  // Each corner keeps the first pixel in scan order of least distance; the stored
  // distance is that of the unclipped colour.
  auto search = [&](int y0, int y1, float found[8][4]) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < s.width(); ++x) {
        const float* t = s.work.target(y, x);
        for (int k = 0; k < 8; ++k) {
          float d = rgbDistanceSquared(t, kCubeCorners[k]);
          if (found[k][3] > d) {
            for (int c = 0; c < 3; ++c) found[k][c] = std::max(t[c], 0.0f);
            found[k][3] = d;
          }
        }
      }
  };
  if (s.kernels == Kernels::Plain) {
    search(0, s.height(), targets);
  } else {
    // Bands of rows on every core, then the bands' finds in scan order with the same strict
    // '>': a later band's find replaces an earlier one only when strictly nearer.
    constexpr int kRows = 16;
    const int bands = (s.height() + kRows - 1) / kRows;
    std::vector<std::array<std::array<float, 4>, 8>> found(static_cast<size_t>(bands));
    parallelBands(bands, 1, [&](int b0, int b1) {
      for (int b = b0; b < b1; ++b) {
        float f[8][4];
        for (int k = 0; k < 8; ++k) f[k][0] = f[k][1] = f[k][2] = 0, f[k][3] = float(1e13);
        search(b * kRows, std::min(s.height(), (b + 1) * kRows), f);
        for (int k = 0; k < 8; ++k)
          for (int c = 0; c < 4; ++c) found[size_t(b)][size_t(k)][size_t(c)] = f[k][c];
      }
    });
    for (const auto& f : found)
      for (int k = 0; k < 8; ++k)
        if (targets[k][3] > f[size_t(k)][3])
          for (int c = 0; c < 4; ++c) targets[k][c] = f[size_t(k)][size_t(c)];
  }
  // Black and white do not set the reference radius.
  float radius = targets[1][3];
  for (int k = 2; k <= 6; ++k) radius = std::min(radius, targets[k][3]);

  for (int k = 0; k < 8; ++k) {
    float d = targets[k][3];
    if (d > 0) {
      float o = std::min(float(double(radius) / d), 1.0f);
      for (int c = 0; c < 3; ++c)
        targets[k][c] = float(double(targets[k][c]) * o + double(kCubeCorners[k][c]) * (1 - double(o)));
    }
  }
  if (s.settings.colorRange == 1)
    for (int k = 0; k < 8; ++k)
      for (int c = 0; c < 3; ++c) targets[k][c] = float((double(targets[k][c]) + kCubeCorners[k][c]) / 2);

  for (int k = 0; k < 8; ++k)
    for (int c = 0; c < 3; ++c) {
      targets[k + 8][c] = float(targets[k][c] * kHalfLevel);
      s.rangeSources[k][c] = kCubeCorners[k][c];
      s.rangeSources[k + 8][c] = float(kCubeCorners[k][c] * kHalfLevel);
    }
}

int nearestRangeTarget(const ConversionState& s, const float e[3]) {
  float best = float(1e10);
  int j = 0;
  for (int i = 0; i < 16; ++i) {
    float d = rgbDistanceSquared(e, s.rangeTargets[i]);
    if (d < best) {  // strict: the lowest row wins ties
      best = d;
      j = i;
    }
  }
  return j;
}

void decomposePixel(const ConversionState& s, const float t[3], float out[3]) {
  float e[3] = {t[0], t[1], t[2]}, a[3] = {0, 0, 0};
  // 128 sequential choices, each compensating the error of the earlier ones.
  for (int step = 0; step < 128; ++step) {
    const int j = nearestRangeTarget(s, e);
    for (int c = 0; c < 3; ++c) {
      e[c] = float(double(e[c]) + t[c] - s.rangeTargets[j][c]);
      a[c] = float(double(a[c]) + s.rangeSources[j][c]);
    }
  }
  for (int c = 0; c < 3; ++c) out[c] = float(double(a[c]) / 128);
}

void stretchColorRange(ConversionState& s) {
  if (s.kernels == Kernels::Fast) return stretchColorRangeFast(s);
  buildRangeTables(s);
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x) {
      float* p = s.work.at(y, x);
      float t[3] = {p[3], p[4], p[5]}, out[3];
      decomposePixel(s, t, out);
      for (int c = 0; c < 3; ++c) p[c] = p[c + 3] = p[c + 6] = out[c];
    }
}

}  // namespace tavrix
