#include "reduce/align_grid.h"

#include <climits>

namespace tavrix {

void storeNearestEntries(ConversionState& s) {
  if (s.kernels == Kernels::Fast) return storeNearestEntriesFast(s);
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x) {
      const float* w = s.work.working(y, x);
      auto lab = linearToLab(w[0], w[1], w[2]);
      float best = float(1e14);
      for (int j = kFirstEntry; j <= kLastEntry; ++j) {
        float d = labDistanceSquared(lab.data(), s.palette.lab[j]);
        if (d < best) {
          best = d;
          s.candidates.at(y, x)[0] = uint8_t(j);
        }
      }
    }
}

GridOffset searchGridOffset(const ConversionState& s) {
  if (s.kernels == Kernels::Fast) return searchGridOffsetFast(s);
  int presence[128] = {};
  int bestTotal = INT_MAX;
  GridOffset best;
  // The search counts 8x8 cells whatever the output mode's colour-map height.
  for (int dy = 0; dy < 8; ++dy)
    for (int dx = 0; dx < 8; ++dx) {
      int total = 0;
      for (int r = 0; r < 25; ++r)
        for (int c = 0; c < 40; ++c) {
          for (int y = 8 * r + dy; y < 8 * r + dy + 8; ++y)
            for (int x = 8 * c + dx; x < 8 * c + dx + 8; ++x) presence[s.candidates.at(y, x)[0]] = 1;
          for (int j = kFirstEntry; j <= kLastEntry; ++j) {
            total += presence[j];
            presence[j] = 0;
          }
        }
      if (total < bestTotal) {  // ties keep the first offset: smallest dy, then dx
        bestTotal = total;
        best = {dx, dy};
      }
    }
  return best;
}

void cutToWindow(ConversionState& s, GridOffset o) {
  Picture cut(320, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) cut.at(x, y) = s.result->at(x + o.dx, y + o.dy);
  *s.result = std::move(cut);
  // In place: the source pixel never precedes its target in this order.
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) {
      const float* wf = s.work.at(y + o.dy, x + o.dx);
      float* wt = s.work.at(y, x);
      for (int i = 0; i < 15; ++i) wt[i] = wf[i];
      const uint8_t* cf = s.candidates.at(y + o.dy, x + o.dx);
      uint8_t* ct = s.candidates.at(y, x);
      for (int i = 0; i < 16; ++i) ct[i] = cf[i];
    }
}

void alignCellGrid(ConversionState& s) {
  storeNearestEntries(s);
  cutToWindow(s, searchGridOffset(s));
}

}  // namespace tavrix
