#include "convert/converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/io/image_io.h"
#include "tests/test_support.h"

namespace tavrix {
namespace {

using testing::RecordingHost;

std::vector<std::string> expectedEvents(int groups, int rowsPerGroup, bool hadResult) {
  std::vector<std::string> e = {"status:Converting to color profile.:pump", "buttons:off"};
  if (hadResult) e.push_back("repaint");
  e.push_back("repaint");  // the source picture
  e.push_back("repaint");  // the candidate preview
  e.push_back("status:Generating conversion buffers.:pump");
  e.push_back("status:calculating error table 1:nopump");
  e.push_back("status:calculating error table 2:nopump");
  for (int g = 0; g < groups; ++g) {
    e.push_back("status:Conversion progress: " + std::to_string(g + 1) + " / " + std::to_string(groups) + ":pump");
    if ((g * rowsPerGroup) % 8 == 0) e.push_back("repaint");
  }
  e.push_back("buttons:on");
  e.push_back("status:Ready:nopump");
  e.push_back("repaint");
  return e;
}

TEST(Converter, StatusSequenceAndRepaints) {
  struct Case {
    int mode, groups, rows;
  } cases[] = {{0, 25, 8}, {1, 50, 4}, {2, 100, 2}};
  auto picture = testing::syntheticPicture(320, 200);
  for (const auto& c : cases) {
    RecordingHost host;
    host.settings.outputMode = c.mode;
    ConversionOutput out;
    host.output = &out;
    Random random(1);
    Converter(host, random).run(picture, out);
    EXPECT_EQ(host.events, expectedEvents(c.groups, c.rows, false)) << c.mode;
    // A second conversion first shows no picture, then the source again.
    host.events.clear();
    host.repaintedResultWidths.clear();
    Converter(host, random).run(picture, out);
    EXPECT_EQ(host.events, expectedEvents(c.groups, c.rows, true)) << c.mode;
    ASSERT_GE(host.repaintedResultWidths.size(), 2u);
    EXPECT_EQ(host.repaintedResultWidths[0], 0);
    EXPECT_EQ(host.repaintedResultWidths[1], 320);
  }
}

TEST(Converter, SameInputSameBytes) {
  auto picture = testing::syntheticPicture(320, 200, 3);
  for (int dither : {0, 1, 2, 3}) {
    ConversionSettings s;
    s.outputMode = 3;
    s.dither = dither;
    auto a = testing::convertPicture(picture, s, 99);
    auto b = testing::convertPicture(picture, s, 99);
    EXPECT_EQ(a.prgImage.bytes, b.prgImage.bytes) << dither;
    EXPECT_EQ(a.resultImage->pixels, b.resultImage->pixels) << dither;
  }
}

TEST(Converter, ResultShowsOnlyEachCellsPairOfDisplayColours) {
  auto picture = testing::syntheticPicture(320, 200, 5);
  for (int mode : {0, 1, 2}) {
    ConversionSettings s;
    s.outputMode = mode;
    auto out = testing::convertPicture(picture, s);
    const Picture& r = *out.resultImage;
    ASSERT_EQ(r.width, 320);
    ASSERT_EQ(r.height, 200);
    const int rows = 1 << rowGroupShift(mode);
    for (int y0 = 0; y0 < 200; y0 += rows)
      for (int x0 = 0; x0 < 320; x0 += 8) {
        std::vector<uint32_t> colours;
        for (int y = y0; y < y0 + rows; ++y)
          for (int x = x0; x < x0 + 8; ++x)
            if (std::find(colours.begin(), colours.end(), r.at(x, y)) == colours.end()) colours.push_back(r.at(x, y));
        ASSERT_LE(colours.size(), 2u) << "mode " << mode << " cell " << x0 << "," << y0;
      }
  }
}

TEST(Converter, UnselectedSelectorsAreUsedAsMinusOne) {
  auto picture = testing::syntheticPicture(320, 200);
  SelectorIndices none{-1, -1, -1, -1, -1, -1, -1, -1};
  ConversionSettings s = conversionSettings(none);
  EXPECT_EQ(s.oversaturatePercent, 75);
  RecordingHost host;
  host.settings = s;
  ConversionOutput out;
  Random random(1);
  Converter(host, random).run(picture, out);
  // 8-row groups, Normal layout at $4000/$6000, no routine, no relocation, the whole image.
  EXPECT_EQ(out.prgImage.length, 28674);
  EXPECT_EQ(out.prgImage.at(0x1007), 0x38);  // still the SYS line
  EXPECT_EQ(out.prgImage.at(0x2000), 0);
  EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "status:Conversion progress: 25 / 25:pump"), 1);
  ConversionSettings normal = s;
  normal.outputMode = 0;
  auto relocated = testing::convertPicture(picture, normal);
  // The same cells as Normal, before its relocation to $1800/$2000.
  for (int i = 0; i < 0x800; ++i) ASSERT_EQ(out.prgImage.at(0x6000 + i), relocated.prgImage.at(0x1800 + i)) << i;
  for (int i = 0; i < 8000; ++i) ASSERT_EQ(out.prgImage.at(0x4000 + i), relocated.prgImage.at(0x2000 + i)) << i;
}

TEST(Converter, WideSourceIsCutTo320x200) {
  auto picture = testing::syntheticPicture(327, 207);
  RecordingHost host;
  host.settings.outputMode = 1;
  ConversionOutput out;
  host.output = &out;
  Random random(1);
  Converter(host, random).run(picture, out);
  EXPECT_EQ(out.resultImage->width, 320);
  EXPECT_EQ(out.resultImage->height, 200);
  EXPECT_EQ(out.prgImage.length, 24554);
  EXPECT_EQ(host.repaintedResultWidths.front(), 327);  // the source, before the cut
  EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "status:Conversion progress: 50 / 50:pump"), 1);
}

TEST(Converter, RefusesOtherSizesUntouched) {
  for (auto size : {std::pair{0, 0}, std::pair{321, 200}, std::pair{320, 207}}) {
    RecordingHost host;
    ConversionOutput out;
    Random random(1);
    Picture p(size.first, size.second);
    EXPECT_THROW(Converter(host, random).run(p, out), std::invalid_argument);
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(out.resultImage.has_value());
  }
}


TEST(Converter, EveryModeAndCropWithEveryOptionHighest) {
  // A real photo through every output mode and crop/fit choice, every option at its highest
  // level: a program of the mode's length and a 320x200 picture of TED colours only.
  const Picture photo = loadPicture(TAVRIX_TEST_DATA "/rocket.jpg");
  const int lengths[] = {12098, 24554, 28650, 28650};
  for (int crop = 0; crop < 4; ++crop) {
    const Picture source = prescale(photo, crop);
    ASSERT_EQ(source.width, crop < 2 ? 320 : 327);
    for (int mode = 0; mode < 4; ++mode) {
      for (int dither = 0; dither < 4; ++dither) {
        SelectorIndices highest{crop, 2, 4, 2, 2, 1, dither, mode};
        ConversionOutput out = testing::convertPicture(source, conversionSettings(highest));
        const std::string what = "crop " + std::to_string(crop) + " mode " + std::to_string(mode) +
                                 " dither " + std::to_string(dither);
        EXPECT_EQ(out.prgImage.length, lengths[mode]) << what;
        ASSERT_EQ(out.resultImage->width, 320) << what;
        ASSERT_EQ(out.resultImage->height, 200) << what;
        std::set<uint32_t> shown(out.resultImage->pixels.begin(), out.resultImage->pixels.end());
        for (uint32_t c : shown) {
          bool inPalette = false;
          for (int j = kFirstEntry; j <= kLastEntry; ++j) inPalette |= displayColor(j) == c;
          ASSERT_TRUE(inPalette) << what << std::hex << " colour " << c;
        }
        EXPECT_GT(shown.size(), 8u) << what;  // a picture, not a blank screen
      }
    }
  }
}

}  // namespace
}  // namespace tavrix
