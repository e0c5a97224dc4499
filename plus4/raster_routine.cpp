#include "plus4/raster_routine.h"

#include <algorithm>
#include <climits>

#include "reduce/cell_pairs.h"

namespace tavrix {

namespace {
// The shift arithmetic wraps on the screen's row length, whatever the buffers' width.
constexpr int kRow = 320;
}  // namespace

void findNearestEntries(ConversionState& s) {
  if (s.kernels == Kernels::Fast) return findNearestEntriesFast(s);
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x) {
      uint8_t nearest = 0;
      float best = float(1e12);
      for (int j = kFirstEntry; j <= kLastEntry; ++j) {
        float d = labDistance(s.palette.lab[j], s.labPairs.mixed(y, x));
        if (d < best) {
          best = d;
          nearest = uint8_t(j);
        }
      }
      s.sourceBytes.nearestEntry(y, x) = nearest;
    }
}

void searchLineShifts(ConversionState& s) {
  if (s.kernels == Kernels::Fast) return searchLineShiftsFast(s);
  int presence[128] = {};
  for (int g = 0; g < s.height() / 2; ++g) {
    int best = INT_MAX;
    for (int s0 = 0; s0 < 8; ++s0)
      for (int s1 = 0; s1 < 8; ++s1) {
        int count = 0;
        for (int c = 0; c < kRow / 8; ++c) {
          for (int x = 8 * c; x < 8 * c + 8; ++x) {
            presence[s.sourceBytes.nearestEntry(2 * g, (x + s0) % kRow)] = 1;
            presence[s.sourceBytes.nearestEntry(2 * g + 1, (x + s1) % kRow)] = 1;
          }
          for (int j = kFirstEntry; j <= kLastEntry; ++j) {
            count += presence[j];
            presence[j] = 0;
          }
        }
        if (count < best) {  // ties keep the first (s0, s1); (0, 0) comes first
          best = count;
          s.lineShift[2 * g] = s0;
          s.lineShift[2 * g + 1] = s1;
        }
      }
  }
}

void smoothShiftedEdge(ConversionState& s) {
  for (int g = 0; g < s.height() / 2; ++g) {
    const int even = s.lineShift[2 * g], odd = s.lineShift[2 * g + 1];
    const int n = even + odd;
    if (n == 0) continue;
    // These pixels fall past the right edge once shifted; each half gets one mean colour.
    for (int half = 0; half < 6; half += 3) {
      float sum[3] = {0, 0, 0};
      for (int x = 0; x < even; ++x)
        for (int c = 0; c < 3; ++c) sum[c] += s.labPairs.at(2 * g, x)[half + c];
      for (int x = 0; x < odd; ++x)
        for (int c = 0; c < 3; ++c) sum[c] += s.labPairs.at(2 * g + 1, x)[half + c];
      float mean[3];
      for (int c = 0; c < 3; ++c) mean[c] = float(double(sum[c]) / n);
      for (int x = 0; x < even; ++x)
        for (int c = 0; c < 3; ++c) s.labPairs.at(2 * g, x)[half + c] = mean[c];
      for (int x = 0; x < odd; ++x)
        for (int c = 0; c < 3; ++c) s.labPairs.at(2 * g + 1, x)[half + c] = mean[c];
    }
  }
}

void rotateShiftedRows(ConversionState& s) {
  for (int y = 0; y < s.height(); ++y) {
    const int shift = s.lineShift[y];
    // ErrorTable slots 1-6 hold the old row meanwhile; the error tables never read them.
    for (int x = 0; x < kRow; ++x) std::copy_n(s.labPairs.at(y, x), 6, s.errors.at(y, x) + 1);
    for (int x = 0; x < kRow; ++x) std::copy_n(s.errors.at(y, (x + shift) % kRow) + 1, 6, s.labPairs.at(y, x));
  }
}

void generateRasterRoutine(ConversionState& s) {
  const auto& tpl = kViewerTemplates;
  int at = 0x2000;
  auto put = [&](uint8_t b) { s.prg->at(at++) = b; };
  auto copy = [&](int from, int to) {
    for (int i = from; i <= to; ++i) put(tpl[size_t(i)]);
  };
  copy(226, 256);  // prologue: sync, bitmap base, wait for raster line 2
  for (int p = 0; p <= 100; ++p) {
    copy(257, 263);
    put(uint8_t(s.lineShift[std::max(2 * p - 1, 0)] + 8));  // $FF07: 40 columns + scroll
    copy(264, 269);
    put(uint8_t(s.lineShift[std::min(2 * p, 199)] + 8));
    copy(270, 270);
    put(uint8_t(((p + 1) & 3) * 8 + 0x60));  // $FF14 of the next line pair
    copy(271, 274);
    put(uint8_t(((p + 2) & 3) * 2 + 0x39));  // $FF06 of the next line pair
    copy(275, 279);
  }
  copy(280, 282);  // JMP $2001
}

void fixLastCell(ConversionState& s, int g) {
  const int c = kRow / 8 - 1;
  uint8_t& a = s.prg->at(bitmapAddress(8 * c, 2 * g));
  uint8_t& b = s.prg->at(bitmapAddress(8 * c, 2 * g + 1));
  const bool act = s.lineShift[2 * g] > 0 ? (a & 1) != 0 : s.lineShift[2 * g + 1] > 0 && (b & 1) != 0;
  if (!act) return;
  // Swapping the pair's roles keeps the colours and leaves the deciding pixel on bit 0.
  a ^= 0xFF;
  b ^= 0xFF;
  for (int address : {colourAddress(1, g, c), luminanceAddress(1, g, c)}) {
    uint8_t& v = s.prg->at(address);
    v = uint8_t(v << 4 | v >> 4);
  }
}

void rotatePreviewRows(ConversionState& s, int g) {
  const int w = s.width();
  for (int y = 2 * g; y <= 2 * g + 1; ++y) {
    const int shift = s.lineShift[y];
    uint32_t* row = s.result->row(y);
    std::rotate(row, row + (w - shift), row + w);  // new x = old (x - shift) mod w
  }
}

}  // namespace tavrix
