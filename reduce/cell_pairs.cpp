#include "reduce/cell_pairs.h"

#include <algorithm>

namespace tavrix {

void buildErrorTable(ConversionState& s, int half) {
  if (s.kernels == Kernels::Fast) return buildErrorTableFast(s, half);
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x) {
      const float* lab = s.labPairs.at(y, x) + 3 * half;
      float* e = s.errors.at(y, x) + 128 * half;
      for (int j = kFirstEntry; j <= kLastEntry; ++j) e[j] = labDistance(s.palette.lab[j], lab);
    }
}

CellPair selectCellPair(const ConversionState& s, CellWindow win) {
  float bestU = float(1e15), bestT = 0;
  CellPair best{kFirstEntry, kFirstEntry + 1};
  for (int first = kFirstEntry; first < kLastEntry; ++first)
    for (int second = first + 1; second <= kLastEntry; ++second) {
      float u = 0, t = 0;
      for (int y = win.r0; y <= win.r1; ++y)
        for (int x = win.x0; x <= win.x1; ++x) {
          const float* e = s.errors.at(y, x);
          t += std::min(e[first], e[second]);
          u += std::min(e[128 + first], e[128 + second]);
        }
      if ((u == bestU && t < bestT) || u < bestU) {
        bestU = u;
        bestT = t;
        best = {first, second};
      }
    }
  return best;
}

std::vector<CellPair> selectRowGroupPairs(ConversionState& s, int g) {
  const int shift = s.rowGroupShift, cells = s.width() / 8;
  auto window = [&](int group, int c) {
    const int r0 = group << shift;
    return CellWindow{r0, std::min(r0 + (1 << shift) - 1, s.height() - 1), 8 * c, std::min(8 * c + 7, s.width() - 1)};
  };
  std::vector<CellPair> pairs(static_cast<size_t>(cells));
  if (s.kernels == Kernels::Plain) {
    for (int c = 0; c < cells; ++c) pairs[size_t(c)] = selectCellPair(s, window(g, c));
    return pairs;
  }
  // Every cell of every group in one go, on every core: one hand-over instead of one a group.
  if (s.pairsAhead.empty()) {
    const int groups = s.height() >> shift;
    s.pairsAhead.assign(size_t(groups * cells), 0);
    const PaletteLabSoA lanes(s.palette);
    parallelBands(groups * cells, 8, [&](int i0, int i1) {
      for (int i = i0; i < i1; ++i) {
        CellPair p = selectCellPairFast(s, window(i / cells, i % cells), lanes);
        s.pairsAhead[size_t(i)] = p.first * 128 + p.second;
      }
    });
  }
  for (int c = 0; c < cells; ++c) {
    const int packed = s.pairsAhead[size_t(g * cells + c)];
    pairs[size_t(c)] = {packed / 128, packed % 128};
  }
  return pairs;
}

int luminanceAddress(int shift, int g, int c) {
  if (shift == 2) return 0x6000 + (g & 1) * 0x800 + (g >> 1) * 40 + c;
  if (shift == 1) return 0x6000 + (g & 3) * 0x800 + (g >> 2) * 40 + c;
  return 0x6000 + g * 40 + c;
}

int colourAddress(int shift, int g, int c) { return luminanceAddress(shift, g, c) + 0x400; }

int bitmapAddress(int x, int y) { return 0x4000 + (y >> 3) * 320 + (y & 7) + (x >> 3) * 8; }

void encodeCell(ConversionState& s, int g, int c, CellPair pair) {
  const int shift = s.rowGroupShift;
  PrgImage& prg = *s.prg;
  prg.at(colourAddress(shift, g, c)) = uint8_t(hueOf(pair.first) << 4 | hueOf(pair.second));
  prg.at(luminanceAddress(shift, g, c)) = uint8_t(lumaOf(pair.second) << 4 | lumaOf(pair.first));
  const int r0 = g << shift;
  for (int y = r0; y < r0 + (1 << shift); ++y)
    for (int x = 8 * c; x < 8 * c + 8; ++x) {
      const float* e = s.errors.at(y, x);
      int shown = pair.second;
      if (!(e[pair.first] > e[pair.second])) {  // equal distances show the first colour
        shown = pair.first;
        prg.at(bitmapAddress(x, y)) |= uint8_t(0x80 >> (x & 7));
      }
      s.result->at(x, y) = displayColor(shown);
    }
}

}  // namespace tavrix
