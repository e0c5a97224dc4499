#pragma once
#include <cstdint>
#include <utility>

#include "convert/state.h"

namespace tavrix {

// Per pixel: a 16-entry mixing plan for the target colour (WorkPixel 3-5) into
// CandidateList, its mean displayed colour into WorkPixel 0-2, and that mean as the
// first preview into ResultImage.
void mixCandidates(ConversionState& s);
void mixCandidatesFast(ConversionState& s);

// The entry whose matching colour lies nearest to the goal; the lowest index wins ties.
int nearestMatch(const PaletteTables& palette, const float goal[3]);

struct MixResult {
  uint8_t order[16];   // the entries in the order they were chosen
  uint8_t sorted[16];  // the same, by ascending lightness
  float mean[3];
};

// One pixel's plan, with `nearest(goal)` as the nearest-entry search.
template <class Nearest>
MixResult mixPixel(const PaletteTables& palette, const float target[3], Nearest nearest) {
  MixResult r;
  float goal[3] = {target[0], target[1], target[2]};
  float sum[3] = {0, 0, 0};
  for (int k = 0; k < 16; ++k) {
    const int chosen = nearest(goal);
    r.order[k] = uint8_t(chosen);
    const float* m = palette.match(chosen);
    const float* shown = palette.display(chosen);
    for (int c = 0; c < 3; ++c) {
      // The goal carries the error of every earlier choice.
      goal[c] = float(double(goal[c]) + target[c] - m[c]);
      sum[c] = float(double(sum[c]) + shown[c]);
    }
  }
  for (int i = 0; i < 16; ++i) r.sorted[i] = r.order[i];
  // This exact exchange sort: entries of equal lightness end where it leaves them.
  for (int i = 0; i < 15; ++i)
    for (int j = i + 1; j < 16; ++j)
      if (palette.lab[r.sorted[i]][0] > palette.lab[r.sorted[j]][0]) std::swap(r.sorted[i], r.sorted[j]);
  for (int c = 0; c < 3; ++c) r.mean[c] = float(double(sum[c]) / 16);
  return r;
}

inline MixResult mixPixel(const PaletteTables& palette, const float target[3]) {
  return mixPixel(palette, target, [&](const float goal[3]) { return nearestMatch(palette, goal); });
}

}  // namespace tavrix
