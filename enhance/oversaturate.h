#pragma once
#include "convert/state.h"

namespace tavrix {
// Decodes SourceBytes 0-2 to linear light, pushes each colour away from its luminance by
// OversaturatePercent / 100 and writes it to WorkPixel slots 0-2, 3-5 and 6-8.
void oversaturate(ConversionState& s);
// One pixel: linear (r, g, b) pushed by k and brought back into the unit cube.
void oversaturatePixel(const float in[3], float k, float out[3]);
}  // namespace tavrix
