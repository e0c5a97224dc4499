#pragma once
#include "convert/state.h"

namespace tavrix {
// CubeCorners (PatternTables entries 16..39): corner k = (k >> 2 & 1, k >> 1 & 1, k & 1).
extern const float kCubeCorners[8][3];
constexpr double kHalfLevel = 0.18946457081379975;  // 0.5 ^ 2.4

// Stretches the gamut toward the RGB cube's corners (ColorRange 1 "High", 2 "Maximum").
void stretchColorRange(ConversionState& s);
void stretchColorRangeFast(ConversionState& s);
// Steps of the stage, exposed for tests: the corner search and tables, then one pixel.
void buildRangeTables(ConversionState& s);
void decomposePixel(const ConversionState& s, const float t[3], float out[3]);
// The row of RangeTargets nearest to e, from 1e10 with a strict '<'.
int nearestRangeTarget(const ConversionState& s, const float e[3]);
}  // namespace tavrix
