#pragma once
// Distances from one Lab colour to every palette entry at once (lanes = 4 entries), for the
// fast kernels: bit-exact with labDistance and labDistanceSquared.
#include "convert/palette.h"

namespace tavrix {

// out[i] = float(pow(sums[i], 0.5)) for eight sums at once, through the hardware root
// wherever a double within two ulps of it rounds to the same float (AVX-512 only).
void rootsLikePow8(const double* sums, float* out);

struct PaletteLabSoA {
  alignas(64) double l[128], a[128], b[128];
  // For a float pass that ranks entries by |p|^2 - 2 q.p (entries 0..6 far away).
  alignas(64) float nl[128], na[128], nb[128], p2[128];
  float maxP2 = 0;
  explicit PaletteLabSoA(const PaletteTables& p);
};

// out[j] = labDistance(entry j, lab) for j = 4..127 (7..127 are the ones used; with AVX-512
// also 0..3).
void labDistancesFast(const PaletteLabSoA& pal, const float* lab, float* out);
// out[j] = labDistanceSquared(lab, entry j) for j = 4..127.
void labDistancesSquaredFast(const PaletteLabSoA& pal, const float* lab, float* out);

// The first entry 7..127 of least out[j] strictly below `start`, else `none`.
int firstLeast(const float* out, float start, int none);

// The same answer as firstLeast over all entries' labDistance (root) or labDistanceSquared
// to `lab`, measuring exactly only the entries a float pass cannot rule out.
int nearestLab(const PaletteLabSoA& pal, const float* lab, bool root, float start, int none);

}  // namespace tavrix
