#include "enhance/hdr.h"

#include <algorithm>

namespace tavrix {

namespace {
// Slot `out` = rounded mean of slot `in` over the clipped window, rows +-ry, columns +-rx.
void windowMean(ConversionState& s, int in, int out, int ry, int rx) {
  const int h = s.height(), w = s.width();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int y0 = std::max(0, y - ry), y1 = std::min(h - 1, y + ry);
      const int x0 = std::max(0, x - rx), x1 = std::min(w - 1, x + rx);
      const int n = (y1 - y0 + 1) * (x1 - x0 + 1);
      int sum = 0;
      for (int wy = y0; wy <= y1; ++wy)
        for (int wx = x0; wx <= x1; ++wx) sum += s.sourceBytes.at(wy, wx)[in];
      s.sourceBytes.at(y, x)[out] = uint8_t((sum + n / 2) / n);
    }
}
}  // namespace

void expandHdr(ConversionState& s) {
  if (s.kernels == Kernels::Fast) return expandHdrFast(s);
  expandHdr(s, windowMean);
}

void expandHdr(ConversionState& s, WindowMean windowMean) {
  const int h = s.height(), w = s.width();
  // Slot 7: own maximum component, slot 8: own minimum.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = s.sourceBytes.at(y, x);
      p[7] = std::max({p[0], p[1], p[2]});
      p[8] = std::min({p[0], p[1], p[2]});
    }
  // First means (33 x 17) into slots 5 and 6, bounded by the pixel's own extremes.
  windowMean(s, 7, 5, 16, 8);
  windowMean(s, 8, 6, 16, 8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = s.sourceBytes.at(y, x);
      if (p[7] > p[5]) p[5] = p[7];
      if (p[8] < p[6]) p[6] = p[8];
    }
  // Second means (33 x 33) into slots 7 and 8: the local maximum and minimum.
  windowMean(s, 5, 7, 16, 16);
  windowMean(s, 6, 8, 16, 16);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = s.sourceBytes.at(y, x);
      if (p[5] > p[7]) p[7] = p[5];
      if (p[6] < p[8]) p[8] = p[6];
    }
  // Stretch: the bounds above keep lo <= s <= hi and hi - lo >= 63.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = s.sourceBytes.at(y, x);
      const int lo = (3 * p[8]) / 4, hi = (3 * p[7] + 255) / 4;
      for (int c = 0; c < 3; ++c) {
        int v = ((p[c] - lo) * 255) / (hi - lo);
        if (s.settings.hdr == 1) v = (v + p[c]) / 2;
        p[c] = uint8_t(std::clamp(v, 0, 255));
      }
    }
}

}  // namespace tavrix
