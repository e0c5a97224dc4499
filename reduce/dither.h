#pragma once
#include "convert/random.h"
#include "convert/state.h"

namespace tavrix {

// PatternTables entries 0-15: the 4x4 Bayer matrix, row = y mod 4, column = x mod 4.
extern const int kBayer4[4][4];

// LabPair 3-5 = Lab of the mixed colour; LabPair 0-2 = the dithered colour chosen by
// Dither, then averaged 50/50 with slots 3-5. "Random dither" draws from `random`.
void buildLabPairs(ConversionState& s, Random& random);

}  // namespace tavrix
