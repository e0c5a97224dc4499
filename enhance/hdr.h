#pragma once
#include "convert/state.h"

namespace tavrix {
// Local contrast expansion on the sRGB bytes (SourceBytes 0-2), in integers; HDR 1 or 2.
void expandHdr(ConversionState& s);
}  // namespace tavrix
