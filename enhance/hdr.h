#pragma once
#include "convert/state.h"

namespace tavrix {
// Local contrast expansion on the sRGB bytes (SourceBytes 0-2), in integers; HDR 1 or 2.
void expandHdr(ConversionState& s);
void expandHdrFast(ConversionState& s);

// The stage with a given window mean: slot `out` = rounded mean of slot `in` over the
// clipped window of rows +-ry and columns +-rx.
using WindowMean = void (*)(ConversionState& s, int in, int out, int ry, int rx);
void expandHdr(ConversionState& s, WindowMean windowMean);
}  // namespace tavrix
