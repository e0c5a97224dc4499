#include "convert/palette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace tavrix {
namespace {

TEST(SrgbToLinear, RoundTripsEveryByte) {
  for (int v = 0; v < 256; ++v) EXPECT_EQ(linearToSrgb(srgbToLinear(v)), v) << v;
}

TEST(SrgbToLinear, SegmentsAndEnds) {
  EXPECT_EQ(srgbToLinear(0), 0.0f);
  EXPECT_EQ(srgbToLinear(255), 1.0f);
  // 10/255 lies below 0.04045 (linear segment), 11/255 above it (power segment).
  EXPECT_NEAR(srgbToLinear(10), 0.0030353, 5e-8);
  EXPECT_EQ(srgbToLinear(10), float(float(10 / 255.0) / 12.92));
  EXPECT_NEAR(srgbToLinear(11), 0.0033465, 5e-8);
  EXPECT_EQ(srgbToLinear(11), float(std::pow((float(11 / 255.0) + 0.055) / 1.055, 2.4)));
}

TEST(LinearToSrgb, ClampsAndRounds) {
  struct Case {
    float c;
    int expected;
  } cases[] = {
      {-0.5f, 0}, {-1e30f, 0}, {0.0f, 0}, {1.0f, 255}, {1.5f, 255}, {1e30f, 255},
      {std::nextafter(0.0031308f, 0.0f), 10}, {0.0031308f, 10},
  };
  for (const auto& c : cases) EXPECT_EQ(linearToSrgb(c.c), c.expected) << c.c;
}

TEST(LinearToSrgb, HalvesRoundToEven) {
  // c * 3294.6 = 2.5 exactly would need c = 2.5 / 3294.6; find floats whose product is a half.
  // 0.5 / 3294.6 is not exact, so check the rule directly on the linear segment's product.
  float c = float(0.5 / 3294.6);
  double x = c * 3294.6;
  EXPECT_EQ(linearToSrgb(c), int(std::nearbyint(x)));
}

TEST(LinearToLab, ReferenceColours) {
  auto white = linearToLab(1, 1, 1);
  EXPECT_NEAR(white[0], 100, 1e-4);
  EXPECT_NEAR(white[1], 0, 1e-3);
  EXPECT_NEAR(white[2], 0, 1e-3);
  auto black = linearToLab(0, 0, 0);
  EXPECT_NEAR(black[0], 0, 1e-5);
  EXPECT_NEAR(black[1], 0, 1e-5);
  EXPECT_NEAR(black[2], 0, 1e-5);
  auto red = linearToLab(1, 0, 0);
  EXPECT_NEAR(red[0], 53.24, 0.01);
  EXPECT_NEAR(red[1], 80.09, 0.01);
  EXPECT_NEAR(red[2], 67.21, 0.01);
}

TEST(LinearToLab, EachTristimulusPicksItsOwnSegment) {
  // X about 0.0226 takes the cube root, Z about 0.0066 the low segment.
  auto lab = linearToLab(0, 0.06f, 0);
  float x = float(0.37621 * 0.06f), y = float(0.71515 * 0.06f), z = float(0.10947 * 0.06f);
  float fx = float(std::pow(double(x), 0.3333333333333333));
  float fy = float(std::pow(double(y), 0.3333333333333333));
  float fz = float(7.787 * z + 16.0 / 116.0);
  EXPECT_EQ(lab[0], float(116 * double(fy) - 16));
  EXPECT_EQ(lab[1], float(500 * (double(fx) - fy)));
  EXPECT_EQ(lab[2], float(200 * (double(fy) - fz)));
}

TEST(PaletteTables, BlackEntryIsNotZero) {
  PaletteTables t;
  buildPaletteTables(t, false);
  EXPECT_EQ(t.linear[7][0], 0.0f);
  EXPECT_NEAR(t.linear[7][1], 0.000304, 1e-6);
  EXPECT_EQ(t.linear[7][2], 0.0f);
  EXPECT_NEAR(t.lab[7][0], 0.196, 1e-3);
  EXPECT_NEAR(t.lab[7][1], -0.401, 1e-3);
  EXPECT_NEAR(t.lab[7][2], 0.286, 1e-3);
  for (int luma = 0; luma < 8; ++luma)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(t.lab[luma][c], t.lab[7][c]);
}

TEST(PaletteTables, ColormapChangesOnlyTheMatchingColour) {
  PaletteTables absolute, relative;
  buildPaletteTables(absolute, false);
  buildPaletteTables(relative, true);
  int differing = 0;
  for (int j = 0; j < 128; ++j) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(absolute.linear[j][c], relative.linear[j][c]);
      EXPECT_EQ(absolute.linear[j][c], absolute.linear[j][c + 3]);
      EXPECT_EQ(absolute.lab[j][c], relative.lab[j][c]);
    }
    bool differs = false;
    for (int c = 3; c < 6; ++c) differs |= absolute.linear[j][c] != relative.linear[j][c];
    differing += differs;
    if (j < 16) {
      EXPECT_FALSE(differs) << j;  // hues 0 and 1 are the same in both palettes
    }
  }
  EXPECT_EQ(differing, 112);
}

TEST(PaletteTables, UsableColoursAreDistinct) {
  std::set<uint32_t> shown;
  for (int j = kFirstEntry; j <= kLastEntry; ++j) shown.insert(displayColor(j));
  EXPECT_EQ(shown.size(), 121u);
}

TEST(Distances, RoundedOnceFromTheDoubleSum) {
  const float p[3] = {0.1f, 0.2f, 0.3f}, q[3] = {0.7f, -0.25f, 1.0f};
  double d0 = double(p[0]) - q[0], d1 = double(p[1]) - q[1], d2 = double(p[2]) - q[2];
  double sum = d0 * d0 + d1 * d1 + d2 * d2;
  EXPECT_EQ(rgbDistanceSquared(p, q), float(sum));
  EXPECT_EQ(labDistanceSquared(p, q), float(sum));
  EXPECT_EQ(labDistance(p, q), float(std::pow(sum, 0.5)));
}

}  // namespace
}  // namespace tavrix
