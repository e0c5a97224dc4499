// raster_routine_fast.cpp: bit-exact with raster_routine.cpp. Nearest entries through the
// shared lane kernel; the shift search counts distinct entries per cell as the popcount of
// 128-bit presence masks (bits 0..6 are dropped, as the plain count skips flags 0..6).
#include <bit>
#include <climits>

#include "convert/lab_distances.h"
#include "plus4/raster_routine.h"

namespace tavrix {

void findNearestEntriesFast(ConversionState& s) {
  const PaletteLabSoA pal(s.palette);
  const int w = s.width();
  parallelBands(s.height(), 8, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x)
        s.sourceBytes.nearestEntry(y, x) = uint8_t(nearestLab(pal, s.labPairs.mixed(y, x), true, float(1e12), 0));
  });
}

namespace {
struct Mask {
  uint64_t lo = 0, hi = 0;
};
constexpr uint64_t kUsedLo = ~uint64_t(0x7F);  // entries 0..6 are never counted
}  // namespace

void searchLineShiftsFast(ConversionState& s) {
  constexpr int kRow = 320, kCells = kRow / 8;
  parallelBands(s.height() / 2, 4, [&](int g0, int g1) {
    for (int g = g0; g < g1; ++g) {
      Mask cells[2][8][kCells];  // [row of the pair][shift][cell]
      for (int r = 0; r < 2; ++r)
        for (int shift = 0; shift < 8; ++shift)
          for (int c = 0; c < kCells; ++c) {
            Mask m;
            for (int x = 8 * c; x < 8 * c + 8; ++x) {
              const int e = s.sourceBytes.nearestEntry(2 * g + r, (x + shift) % kRow);
              (e < 64 ? m.lo : m.hi) |= uint64_t(1) << (e & 63);
            }
            cells[r][shift][c] = m;
          }
      int best = INT_MAX;
      for (int s0 = 0; s0 < 8; ++s0)
        for (int s1 = 0; s1 < 8; ++s1) {
          int count = 0;
          for (int c = 0; c < kCells; ++c) {
            const Mask& a = cells[0][s0][c];
            const Mask& b = cells[1][s1][c];
            count += std::popcount((a.lo | b.lo) & kUsedLo) + std::popcount(a.hi | b.hi);
          }
          if (count < best) {
            best = count;
            s.lineShift[2 * g] = s0;
            s.lineShift[2 * g + 1] = s1;
          }
        }
    }
  });
}

}  // namespace tavrix
