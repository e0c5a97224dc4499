#include "reduce/mix_candidates.h"

#include <utility>

namespace tavrix {

MixResult mixPixel(const PaletteTables& palette, const float target[3]) {
  MixResult r;
  float goal[3] = {target[0], target[1], target[2]};
  float sum[3] = {0, 0, 0};
  for (int k = 0; k < 16; ++k) {
    float best = float(1e10);
    int chosen = kFirstEntry;
    for (int j = kFirstEntry; j <= kLastEntry; ++j) {
      float d = rgbDistanceSquared(goal, palette.match(j));
      if (d < best) {  // strict: the lowest index wins ties
        best = d;
        chosen = j;
      }
    }
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

void mixCandidates(ConversionState& s) {
  for (int y = 0; y < s.height(); ++y) {
    uint32_t* row = s.result->row(y);
    for (int x = 0; x < s.width(); ++x) {
      MixResult r = mixPixel(s.palette, s.work.target(y, x));
      uint8_t* list = s.candidates.at(y, x);
      for (int i = 0; i < 16; ++i) list[i] = r.sorted[i];
      float* w = s.work.working(y, x);
      for (int c = 0; c < 3; ++c) w[c] = r.mean[c];
      row[x] = rgbWord(linearToSrgb(r.mean[0]), linearToSrgb(r.mean[1]), linearToSrgb(r.mean[2]));
    }
  }
}

}  // namespace tavrix
