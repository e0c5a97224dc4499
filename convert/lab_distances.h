#pragma once
// Distances from one Lab colour to every palette entry at once (lanes = 4 entries), for the
// fast kernels: bit-exact with labDistance and labDistanceSquared.
#include "convert/palette.h"

namespace tavrix {

struct PaletteLabSoA {
  alignas(32) double l[128], a[128], b[128];
  explicit PaletteLabSoA(const PaletteTables& p);
};

// out[j] = labDistance(entry j, lab) for j = 4..127 (7..127 are the ones used).
void labDistancesFast(const PaletteLabSoA& pal, const float* lab, float* out);
// out[j] = labDistanceSquared(lab, entry j) for j = 4..127.
void labDistancesSquaredFast(const PaletteLabSoA& pal, const float* lab, float* out);

// The first entry 7..127 of least out[j] strictly below `start`, else `none`.
int firstLeast(const float* out, float start, int none);

}  // namespace tavrix
