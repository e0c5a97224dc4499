// align_grid_fast.cpp: bit-exact with align_grid.cpp. Nearest entries through the shared lane
// kernel on every core; the offset search counts distinct entries per cell as the popcount
// of 128-bit presence masks (entries are 7..127, so no flag below 7 is ever set).
#include <bit>
#include <climits>
#include <vector>

#include "convert/lab_distances.h"
#include "convert/memo.h"
#include "reduce/align_grid.h"

namespace tavrix {

void storeNearestEntriesFast(ConversionState& s) {
  const PaletteLabSoA pal(s.palette);
  const int w = s.width();
  parallelBands(s.height(), 8, [&](int y0, int y1) {
    static thread_local LabMemo memo;  // mixed colours repeat across the picture
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x) {
        const float* m = s.work.working(y, x);
        auto lab = memo(m[0], m[1], m[2]);
        const int j = nearestLab(pal, lab.data(), false, float(1e14), -1);
        if (j >= 0) s.candidates.at(y, x)[0] = uint8_t(j);
      }
  });
}

GridOffset searchGridOffsetFast(const ConversionState& s) {
  // Row y's masks of the 8 pixels starting at each column x, built once for all offsets.
  const int w = s.width(), h = s.height();
  struct Mask {
    uint64_t lo = 0, hi = 0;
  };
  std::vector<Mask> runs(size_t(w) * size_t(h));
  parallelBands(h, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x + 8 <= w; ++x) {
        Mask m;
        for (int i = x; i < x + 8; ++i) {
          const int e = s.candidates.at(y, i)[0];
          (e < 64 ? m.lo : m.hi) |= uint64_t(1) << (e & 63);
        }
        runs[size_t(y) * size_t(w) + size_t(x)] = m;
      }
  });
  int totals[64];
  parallelBands(64, 8, [&](int o0, int o1) {
    for (int o = o0; o < o1; ++o) {
      const int dy = o / 8, dx = o % 8;
      int total = 0;
      for (int r = 0; r < 25; ++r)
        for (int c = 0; c < 40; ++c) {
          Mask m;
          for (int y = 8 * r + dy; y < 8 * r + dy + 8; ++y) {
            const Mask& run = runs[size_t(y) * size_t(w) + size_t(8 * c + dx)];
            m.lo |= run.lo;
            m.hi |= run.hi;
          }
          total += std::popcount(m.lo) + std::popcount(m.hi);
        }
      totals[o] = total;
    }
  });
  int best = INT_MAX;
  GridOffset offset;
  for (int o = 0; o < 64; ++o)
    if (totals[o] < best) {  // scan order: dy outer, dx inner; the first least wins
      best = totals[o];
      offset = {o % 8, o / 8};
    }
  return offset;
}

}  // namespace tavrix
