#pragma once
#include "convert/state.h"

namespace tavrix {

struct GridOffset {
  int dx = 0, dy = 0;
};

// For a 327x207 picture: keeps the 320x200 window whose 8x8 cells hold the fewest
// distinct nearest palette entries, and cuts ResultImage and the buffers to it.
void alignCellGrid(ConversionState& s);

// The steps of the stage, exposed for tests.
void storeNearestEntries(ConversionState& s);  // CandidateList slot 0
GridOffset searchGridOffset(const ConversionState& s);
void cutToWindow(ConversionState& s, GridOffset offset);
void storeNearestEntriesFast(ConversionState& s);
GridOffset searchGridOffsetFast(const ConversionState& s);

}  // namespace tavrix
