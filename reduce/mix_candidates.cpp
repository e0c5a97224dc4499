#include "reduce/mix_candidates.h"

namespace tavrix {

int nearestMatch(const PaletteTables& palette, const float goal[3]) {
  float best = float(1e10);
  int chosen = kFirstEntry;
  for (int j = kFirstEntry; j <= kLastEntry; ++j) {
    float d = rgbDistanceSquared(goal, palette.match(j));
    if (d < best) {  // strict: the lowest index wins ties
      best = d;
      chosen = j;
    }
  }
  return chosen;
}

void mixCandidates(ConversionState& s) {
  if (s.kernels == Kernels::Fast) return mixCandidatesFast(s);
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
