#include "reduce/mix_candidates.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

#include "tests/test_support.h"

namespace tavrix {
namespace {

struct MixCase {
  float target[3];
  std::vector<int> order;
  std::vector<int> sorted;
  uint32_t preview;
};

std::vector<int> asVector(const uint8_t* v) { return std::vector<int>(v, v + 16); }

TEST(MixCandidates, ChoiceOrderSortAndPreview) {
  const MixCase cases[] = {
      {{0.2f, 0.2f, 0.2f},
       {12, 13, 12, 13, 12, 13, 12, 13, 12, 13, 12, 13, 12, 13, 12, 13},
       {12, 12, 12, 12, 12, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13},
       rgbWord(124, 125, 124)},
      {{0.25f, 0.25f, 0.5f},
       {108, 14, 52, 13, 37, 109, 29, 37, 29, 37, 109, 14, 108, 13, 109, 14},
       {52, 108, 108, 37, 37, 37, 13, 13, 109, 109, 109, 29, 29, 14, 14, 14},
       rgbWord(138, 140, 187)},
      {{0, 0, 0}, std::vector<int>(16, 7), std::vector<int>(16, 7), displayColor(7)},
  };
  PaletteTables palette;
  buildPaletteTables(palette, false);
  for (const auto& c : cases) {
    MixResult r = mixPixel(palette, c.target);
    EXPECT_EQ(asVector(r.order), c.order);
    EXPECT_EQ(asVector(r.sorted), c.sorted);
    uint32_t preview = rgbWord(linearToSrgb(r.mean[0]), linearToSrgb(r.mean[1]), linearToSrgb(r.mean[2]));
    EXPECT_EQ(preview, c.preview) << std::hex << preview;
  }
}

TEST(MixCandidates, PaletteColourTargetYieldsItsEntrySixteenTimes) {
  // Under either colormap: the target is the matching colour, the preview the displayed one.
  for (bool relative : {false, true}) {
    PaletteTables palette;
    buildPaletteTables(palette, relative);
    for (int j : {8, 19, 46, 77, 100, 127}) {
      MixResult r = mixPixel(palette, palette.match(j));
      EXPECT_EQ(asVector(r.order), std::vector<int>(16, j)) << j << " relative " << relative;
      uint32_t preview = rgbWord(linearToSrgb(r.mean[0]), linearToSrgb(r.mean[1]), linearToSrgb(r.mean[2]));
      EXPECT_EQ(preview, displayColor(j)) << j;
    }
  }
}

TEST(MixCandidates, SortedListIsByLightnessAndTargetsOutsideTheCubeStillChoose) {
  PaletteTables palette;
  buildPaletteTables(palette, false);
  const float targets[][3] = {{1.4f, -0.2f, 0.3f}, {0.9f, 0.95f, 0.1f}, {0.03f, 0.5f, 0.8f}};
  for (const auto& t : targets) {
    MixResult r = mixPixel(palette, t);
    for (int i = 0; i < 16; ++i) {
      EXPECT_GE(r.sorted[i], kFirstEntry);
      EXPECT_LE(r.sorted[i], kLastEntry);
      if (i > 0) {
        EXPECT_LE(palette.lab[r.sorted[i - 1]][0], palette.lab[r.sorted[i]][0]);
      }
    }
    // The sorted list is a permutation of the choices.
    std::vector<int> a = asVector(r.order), b = asVector(r.sorted);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
  }
}

TEST(MixCandidates, StageWritesListsMeansAndPreviewPixels) {
  Picture result(320, 200);
  PrgImage prg;
  ConversionState s;
  s.result = &result;
  s.prg = &prg;
  s.work.allocate(320, 200);
  s.candidates.allocate(320, 200);
  buildPaletteTables(s.palette, false);
  float* t = s.work.target(5, 9);
  t[0] = t[1] = 0.2f;
  t[2] = 0.2f;
  mixCandidates(s);
  EXPECT_EQ(result.at(9, 5), rgbWord(124, 125, 124));
  EXPECT_EQ(s.candidates.at(5, 9)[0], 12);
  EXPECT_EQ(s.candidates.at(5, 9)[15], 13);
  // A zero target elsewhere: black, entry 7, previewed as the displayed black.
  EXPECT_EQ(result.at(0, 0), displayColor(7));
  float sum = 0;
  for (int i = 0; i < 16; ++i) sum += s.palette.display(7)[1];  // sixteen float additions
  EXPECT_EQ(s.work.working(0, 0)[1], float(double(sum) / 16));
}

}  // namespace
}  // namespace tavrix
