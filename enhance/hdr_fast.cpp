// hdr_fast.cpp: bit-exact with hdr.cpp. Window sums come from summed-area tables; integer
// sums are the same in any order.
#include <algorithm>
#include <vector>

#include "enhance/hdr.h"

namespace tavrix {

namespace {

void windowMeanFast(ConversionState& s, int in, int out, int ry, int rx) {
  const int h = s.height(), w = s.width();
  std::vector<int> sat(size_t(h + 1) * size_t(w + 1), 0);
  auto at = [&](int y, int x) -> int& { return sat[size_t(y) * size_t(w + 1) + size_t(x)]; };
  for (int y = 0; y < h; ++y) {
    int row = 0;
    for (int x = 0; x < w; ++x) {
      row += s.sourceBytes.at(y, x)[in];
      at(y + 1, x + 1) = at(y, x + 1) + row;
    }
  }
  parallelBands(h, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x) {
        const int top = std::max(0, y - ry), bottom = std::min(h - 1, y + ry);
        const int left = std::max(0, x - rx), right = std::min(w - 1, x + rx);
        const int n = (bottom - top + 1) * (right - left + 1);
        const int sum = at(bottom + 1, right + 1) - at(top, right + 1) - at(bottom + 1, left) + at(top, left);
        s.sourceBytes.at(y, x)[out] = uint8_t((sum + n / 2) / n);
      }
  });
}

}  // namespace

void expandHdrFast(ConversionState& s) { expandHdr(s, windowMeanFast); }

}  // namespace tavrix
