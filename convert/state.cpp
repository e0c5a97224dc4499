#include "convert/state.h"

namespace tavrix {

ConversionSettings conversionSettings(const SelectorIndices& s) {
  ConversionSettings c;
  c.outputMode = s.outputMode;
  c.sharpen = s.sharpen;
  c.dither = s.dither;
  c.colormap = s.colormap;
  // No selected item (-1) gives 75 %: the colours are desaturated, not left alone.
  c.oversaturatePercent = 100 + 25 * s.oversaturate;
  c.colorRange = s.colorRange;
  c.hdr = s.hdr;
  return c;
}

int rowGroupShift(int outputMode) {
  int shift = 3;
  if (outputMode == 1) shift = 2;
  if (outputMode > 1) shift = 1;
  return shift;
}

}  // namespace tavrix
