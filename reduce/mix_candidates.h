#pragma once
#include <cstdint>

#include "convert/state.h"

namespace tavrix {

// Per pixel: a 16-entry mixing plan for the target colour (WorkPixel 3-5) into
// CandidateList, its mean displayed colour into WorkPixel 0-2, and that mean as the
// first preview into ResultImage.
void mixCandidates(ConversionState& s);

struct MixResult {
  uint8_t order[16];   // the entries in the order they were chosen
  uint8_t sorted[16];  // the same, by ascending lightness
  float mean[3];
};
MixResult mixPixel(const PaletteTables& palette, const float target[3]);

}  // namespace tavrix
