// Prescaling: nearest-pixel drawing onto a canvas of four times the target size, then
// a 4x4 box filter, so every output pixel is the mean of 16 samples.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/io/image_io.h"

namespace tavrix {
namespace {

// A crop selector with no selected item (-1) converts as "320x200 crop".
int choiceOf(int crop) { return crop >= 0 && crop <= 3 ? crop : 0; }

constexpr int64_t kCellAlign = 0x7FFFFFE0;

// The source pixel under canvas position `at` of a rectangle side from `start`, `extent` long,
// over `size` source pixels. The product needs more than 64 bits for a picture of 2^31 rows.
int sourceIndex(int at, int64_t start, int64_t extent, int size) {
  return int(static_cast<__int128>(at - start) * size / extent);
}

}  // namespace

int targetWidth(int crop) { return choiceOf(crop) < 2 ? 320 : 327; }
int targetHeight(int crop) { return choiceOf(crop) < 2 ? 200 : 207; }

DrawRect drawingRect(int width, int height, int crop) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("prescale: the picture has no pixels");
  const int choice = choiceOf(crop);
  const int64_t w = width, h = height;
  const int64_t cw = 4 * int64_t(targetWidth(choice)), ch = 4 * int64_t(targetHeight(choice));
  const bool fit = choice == 1 || choice == 3;

  // Adding half the divisor makes each quotient round to nearest.
  int64_t dw = cw;
  int64_t dh = (h * cw + w / 2) / w;
  if (fit ? dh > ch : dh < ch) {
    dw = (w * ch + h / 2) / h;
    dh = ch;
  }
  if (choice == 1) {  // whole 8x8 cells on the final picture
    dw &= kCellAlign;
    dh &= kCellAlign;
  }
  // Truncating division: a crop overhang of -53 puts the left edge at -26.
  int64_t left = (cw - dw) / 2;
  int64_t top = (ch - dh) / 2;
  if (choice == 1) {  // start on the cell grid, even if that leaves it off centre
    left &= kCellAlign;
    top &= kCellAlign;
  }
  return {left, top, dw, dh};
}

Picture prescale(const Picture& loaded, int crop) {
  const int tw = targetWidth(crop), th = targetHeight(crop);
  if (loaded.width == tw && loaded.height == th) return loaded;  // taken over unscaled

  const DrawRect r = drawingRect(loaded.width, loaded.height, crop);
  const int cw = 4 * tw, ch = 4 * th;

  // Canvas columns [x0, x1) and rows [y0, y1) lie inside the rectangle; the rest stays black.
  const int x0 = int(std::clamp<int64_t>(r.left, 0, cw));
  const int x1 = int(std::clamp<int64_t>(r.left + r.width, 0, cw));
  const int y0 = int(std::clamp<int64_t>(r.top, 0, ch));
  const int y1 = int(std::clamp<int64_t>(r.top + r.height, 0, ch));

  std::vector<int> sourceColumn(size_t(std::max(cw, 1)), 0);
  for (int cx = x0; cx < x1; ++cx)
    sourceColumn[size_t(cx)] = sourceIndex(cx, r.left, r.width, loaded.width);

  Picture out(tw, th);
  std::vector<uint32_t> sumR(static_cast<size_t>(tw)), sumG(sumR), sumB(sumR);
  for (int y = 0; y < th; ++y) {
    std::fill(sumR.begin(), sumR.end(), 0u);
    std::fill(sumG.begin(), sumG.end(), 0u);
    std::fill(sumB.begin(), sumB.end(), 0u);
    for (int cy = 4 * y; cy < 4 * y + 4; ++cy) {
      if (cy < y0 || cy >= y1) continue;  // black canvas row adds nothing
      const uint32_t* src = loaded.row(sourceIndex(cy, r.top, r.height, loaded.height));
      for (int cx = x0; cx < x1; ++cx) {
        const uint32_t p = src[sourceColumn[size_t(cx)]];
        const size_t ox = size_t(cx) >> 2;
        sumR[ox] += p >> 16 & 255;
        sumG[ox] += p >> 8 & 255;
        sumB[ox] += p & 255;
      }
    }
    uint32_t* dst = out.row(y);
    for (int x = 0; x < tw; ++x)
      dst[x] = (sumR[size_t(x)] + 8) >> 4 << 16 | (sumG[size_t(x)] + 8) >> 4 << 8 | (sumB[size_t(x)] + 8) >> 4;
  }
  return out;
}

}  // namespace tavrix
