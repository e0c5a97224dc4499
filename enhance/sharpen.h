#pragma once
#include "convert/state.h"

namespace tavrix {
// Unsharp mask in linear light (when Sharpen > 0), then, in every conversion, the blend with
// the unsharpened colour and the copy of the result into the target slots 3-5.
void sharpen(ConversionState& s);
// One box-mean pass: WorkPixel slots from..from+2 to slots to..to+2 over clipped 5x5 windows.
void boxPass(ConversionState& s, int from, int to);
// The four box passes (slots 0-2 to 3-5 to 9-11 to 3-5 to 9-11) on planes, on every core.
void sharpenPassesFast(ConversionState& s);
}  // namespace tavrix
