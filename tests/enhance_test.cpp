#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "convert/palette.h"
#include "enhance/color_range.h"
#include "enhance/hdr.h"
#include "enhance/oversaturate.h"
#include "enhance/sharpen.h"
#include "tests/stage_fixture.h"

namespace tavrix {
namespace {

using testing::StageFixture;
using testing::ulpDistance;

class ExpandHdr : public testing::BothKernels {};
class Oversaturate : public testing::BothKernels {};
class BoxPass : public testing::BothKernels {};
class Sharpen : public testing::BothKernels {};
class ColorRange : public testing::BothKernels {};

// Runs `check(x, y)` over every pixel; it returns an empty string or what went wrong.
// Only the first failure is shown, with the number of failing pixels.
template <typename Check>
::testing::AssertionResult everyPixel(int w, int h, Check check) {
  int failures = 0;
  std::string first;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::string why = check(x, y);
      if (why.empty()) continue;
      if (failures++ == 0) first = "(" + std::to_string(x) + ", " + std::to_string(y) + "): " + why;
    }
  if (failures == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << failures << " pixels fail, first " << first;
}

std::string describe(const float* v) {
  std::ostringstream o;
  o.precision(9);
  o << "(" << v[0] << ", " << v[1] << ", " << v[2] << ")";
  return o.str();
}

ConversionSettings withHdr(int hdr) {
  ConversionSettings c;
  c.hdr = hdr;
  return c;
}
ConversionSettings withOversaturate(int percent) {
  ConversionSettings c;
  c.oversaturatePercent = percent;
  return c;
}
ConversionSettings withSharpen(int sharpen) {
  ConversionSettings c;
  c.sharpen = sharpen;
  return c;
}
ConversionSettings withColorRange(int colorRange) {
  ConversionSettings c;
  c.colorRange = colorRange;
  return c;
}

constexpr int kLowHdr = 1, kHiHdr = 2;

// Every pixel's SourceBytes 0-2 against want(x, y).
template <typename Want>
::testing::AssertionResult bytesAre(StageFixture& f, Want want) {
  return everyPixel(f.width(), f.height(), [&](int x, int y) -> std::string {
    const uint8_t* p = f.s.sourceBytes.at(y, x);
    const std::array<int, 3> w = want(x, y);
    for (int ch = 0; ch < 3; ++ch)
      if (p[ch] != w[ch])
        return "component " + std::to_string(ch) + " is " + std::to_string(p[ch]) + ", want " + std::to_string(w[ch]);
    return "";
  });
}

// ---------------------------------------------------------------- HDR range expansion

TEST_P(ExpandHdr, UniformGreys) {
  // Local extremes equal the level: lo = 3v div 4, hi = (3v + 255) div 4.
  struct Case {
    int level, hdr, expected;
  };
  const Case cases[] = {
      {0, kHiHdr, 0},     {0, kLowHdr, 0},     {64, kHiHdr, 64},   {64, kLowHdr, 64},
      {128, kHiHdr, 129}, {128, kLowHdr, 128}, {200, kHiHdr, 202}, {200, kLowHdr, 201},
      {255, kHiHdr, 255}, {255, kLowHdr, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + ", hdr " + std::to_string(c.hdr));
    StageFixture f(40, 36, withHdr(c.hdr), GetParam());
    for (int y = 0; y < f.height(); ++y)
      for (int x = 0; x < f.width(); ++x) f.setBytes(x, y, c.level, c.level, c.level);
    expandHdr(f.s);
    EXPECT_TRUE(bytesAre(f, [&](int, int) { return std::array<int, 3>{c.expected, c.expected, c.expected}; }));
  }
}

TEST_P(ExpandHdr, FullRangeColoursPassUnchanged) {
  // Every pixel has a 0 and a 255 component, so lo = 0 and hi = 255 everywhere; the
  // middle components in between must come through as they are.
  const std::array<int, 3> colours[] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},   {255, 255, 0},
                                        {0, 255, 255}, {255, 0, 255}, {255, 100, 0}, {30, 0, 255},
                                        {0, 255, 170}};
  const int n = int(std::size(colours));
  auto colourAt = [&](int x, int y) { return colours[(x / 3 + y / 5) % n]; };
  for (int hdr : {kLowHdr, kHiHdr}) {
    SCOPED_TRACE("hdr " + std::to_string(hdr));
    StageFixture f(48, 40, withHdr(hdr), GetParam());
    for (int y = 0; y < f.height(); ++y)
      for (int x = 0; x < f.width(); ++x) {
        auto c = colourAt(x, y);
        f.setBytes(x, y, c[0], c[1], c[2]);
      }
    expandHdr(f.s);
    EXPECT_TRUE(bytesAre(f, colourAt));
  }
}

TEST_P(ExpandHdr, StretchBetweenLocalExtremes) {
  // Uniform (200, 100, 50): local max 200, min 50, so lo = 37 and hi = 213.
  // Hi: (s - 37) * 255 div 176; Low averages that with s.
  struct Case {
    int hdr;
    std::array<int, 3> expected;
  };
  const Case cases[] = {{kHiHdr, {236, 91, 18}}, {kLowHdr, {218, 95, 34}}};
  for (const auto& c : cases) {
    SCOPED_TRACE("hdr " + std::to_string(c.hdr));
    StageFixture f(36, 36, withHdr(c.hdr), GetParam());
    for (int y = 0; y < f.height(); ++y)
      for (int x = 0; x < f.width(); ++x) f.setBytes(x, y, 200, 100, 50);
    expandHdr(f.s);
    EXPECT_TRUE(bytesAre(f, [&](int, int) { return c.expected; }));
  }
}

TEST_P(ExpandHdr, LocalExtremesNeverPassThePixelsOwn) {
  // One grey 128 pixel in a black or white field. The window means alone would give
  // the field's level; bounded by the pixel's own extremes they give hi = 159 (on
  // black) or lo = 96 (on white). The field itself stays as it is.
  struct Case {
    int field, hdr, expected;
  };
  const Case cases[] = {
      {0, kHiHdr, 205}, {0, kLowHdr, 166}, {255, kHiHdr, 51}, {255, kLowHdr, 89},
  };
  const int px = 20, py = 22;
  for (const auto& c : cases) {
    SCOPED_TRACE("field " + std::to_string(c.field) + ", hdr " + std::to_string(c.hdr));
    StageFixture f(48, 48, withHdr(c.hdr), GetParam());
    for (int y = 0; y < f.height(); ++y)
      for (int x = 0; x < f.width(); ++x) f.setBytes(x, y, c.field, c.field, c.field);
    f.setBytes(px, py, 128, 128, 128);
    expandHdr(f.s);
    EXPECT_TRUE(bytesAre(f, [&](int x, int y) {
      const int want = (x == px && y == py) ? c.expected : c.field;
      return std::array<int, 3>{want, want, want};
    }));
  }
}

TEST_P(ExpandHdr, FirstWindowIsClippedAtEachCorner) {
  // At a corner the first window is 17 rows by 9 columns. Fill exactly that block with
  // grey 120 and put (255, 0, 0) in its far corner; everything else is black. The block's
  // means are then 121 (maxima) and 119 (minima), beyond the corner pixel's own 120; a
  // window that is shifted, unclipped or one row or column off takes in black or loses
  // the far corner and gives other values. Slots 5 and 6 keep the first means.
  const int w = 40, h = 50;
  struct Case {
    const char* name;
    int x, y;        // the corner pixel
    int farX, farY;  // the opposite corner of its window
  };
  const Case cases[] = {
      {"top-left", 0, 0, 8, 16},
      {"top-right", w - 1, 0, w - 9, 16},
      {"bottom-left", 0, h - 1, 8, h - 17},
      {"bottom-right", w - 1, h - 1, w - 9, h - 17},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StageFixture f(w, h, withHdr(kHiHdr), GetParam());
    const int x0 = std::min(c.x, c.farX), x1 = std::max(c.x, c.farX);
    const int y0 = std::min(c.y, c.farY), y1 = std::max(c.y, c.farY);
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) f.setBytes(x, y, 120, 120, 120);
    f.setBytes(c.farX, c.farY, 255, 0, 0);
    expandHdr(f.s);
    const uint8_t* p = f.s.sourceBytes.at(c.y, c.x);
    EXPECT_EQ(p[5], 121);
    EXPECT_EQ(p[6], 119);
  }
}

TEST_P(ExpandHdr, SecondWindowAtTheTopLeftIs17By17) {
  // One full-height column of 255 on black at column 16: the first means are 255 on the
  // column and round(255 / 17) = 15 in the eight columns left of it, so the top-left
  // pixel's second window (columns 0..16) gives round(375 / 17) = 22. At column 17 it
  // holds only the eight 15s: round(120 / 17) = 7. A window one column narrower or wider
  // gives 8 or 21. A line of black on white tests the minima the same way; a row instead
  // of a column tests the window's height (the first means then vary with the clipped
  // heights 17..33 of the top rows).
  struct Case {
    bool row;
    int position, background, slot, expected;
  };
  const Case cases[] = {
      {false, 16, 0, 7, 22},  {false, 17, 0, 7, 7},   {false, 16, 255, 8, 233}, {false, 17, 255, 8, 248},
      {true, 16, 0, 7, 25},   {true, 17, 0, 7, 10},   {true, 16, 255, 8, 230},  {true, 17, 255, 8, 245},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.row ? "row " : "column ") + std::to_string(c.position) + " on " +
                 std::to_string(c.background));
    StageFixture f(44, 40, withHdr(kHiHdr), GetParam());
    const int line = 255 - c.background;
    for (int y = 0; y < f.height(); ++y)
      for (int x = 0; x < f.width(); ++x) {
        const int v = (c.row ? y : x) == c.position ? line : c.background;
        f.setBytes(x, y, v, v, v);
      }
    expandHdr(f.s);
    EXPECT_EQ(f.s.sourceBytes.at(0, 0)[c.slot], c.expected);
  }
}

// ---------------------------------------------------------------- Oversaturation

TEST_P(Oversaturate, FullPercentDecodesEveryByteExactly) {
  StageFixture f(256, 3, withOversaturate(100), GetParam());
  auto bytesAt = [](int x, int y) {
    return std::array<int, 3>{x, (255 - x + 85 * y) & 255, (x * 37 + y * 11) & 255};
  };
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) {
      auto b = bytesAt(x, y);
      f.setBytes(x, y, b[0], b[1], b[2]);
    }
  oversaturate(f.s);
  EXPECT_TRUE(everyPixel(f.width(), f.height(), [&](int x, int y) -> std::string {
    const float* p = f.s.work.at(y, x);
    auto b = bytesAt(x, y);
    for (int base : {0, 3, 6})
      for (int ch = 0; ch < 3; ++ch)
        if (p[base + ch] != srgbToLinear(b[ch])) return "slot " + std::to_string(base + ch);
    return "";
  }));
}

TEST_P(Oversaturate, GreyIsUnchangedAtEveryLevel) {
  for (int percent : {75, 125, 150, 175, 200}) {
    SCOPED_TRACE("percent " + std::to_string(percent));
    StageFixture f(256, 1, withOversaturate(percent), GetParam());
    for (int x = 0; x < 256; ++x) f.setBytes(x, 0, x, x, x);
    oversaturate(f.s);
    EXPECT_TRUE(everyPixel(256, 1, [&](int x, int) -> std::string {
      const float* p = f.s.work.at(0, x);
      for (int i = 0; i < 9; ++i)
        if (p[i] != srgbToLinear(x)) return "slot " + std::to_string(i) + ": " + describe(p);
      return "";
    }));
  }
}

TEST_P(Oversaturate, SeventyFivePercentMovesAQuarterTowardLuminance) {
  // No selected item reads as 75 percent: k = 0.75 stays inside the cube.
  const std::array<int, 3> bytes[] = {{255, 0, 0}, {10, 200, 90}, {255, 255, 0}, {0, 0, 255}, {128, 64, 32}};
  const int n = int(std::size(bytes));
  StageFixture f(n, 1, withOversaturate(75), GetParam());
  for (int x = 0; x < n; ++x) f.setBytes(x, 0, bytes[x][0], bytes[x][1], bytes[x][2]);
  oversaturate(f.s);
  for (int x = 0; x < n; ++x) {
    SCOPED_TRACE("pixel " + std::to_string(x));
    double c[3];
    for (int ch = 0; ch < 3; ++ch) c[ch] = srgbToLinear(bytes[x][ch]);
    const double y = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
    const float* p = f.s.work.at(0, x);
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_NEAR(p[ch], c[ch] + (y - c[ch]) / 4, 1e-6) << "component " << ch;
      EXPECT_GE(p[ch], 0.0f);
      EXPECT_LE(p[ch], 1.0f);
    }
  }
}

TEST_P(Oversaturate, ZeroByteKeepsThePixelAtEveryLevel) {
  // The zero component is pushed below 0, and the pull back to 0 undoes the whole push.
  const std::array<int, 3> bytes[] = {{0, 100, 200}, {255, 0, 30}, {12, 40, 0}, {0, 0, 77}, {0, 255, 255}, {1, 0, 255}};
  const int n = int(std::size(bytes));
  for (int percent : {125, 150, 175, 200}) {
    SCOPED_TRACE("percent " + std::to_string(percent));
    StageFixture f(n, 1, withOversaturate(percent), GetParam());
    for (int x = 0; x < n; ++x) f.setBytes(x, 0, bytes[x][0], bytes[x][1], bytes[x][2]);
    oversaturate(f.s);
    EXPECT_TRUE(everyPixel(n, 1, [&](int x, int) -> std::string {
      const float* p = f.s.work.at(0, x);
      for (int i = 0; i < 9; ++i)
        if (p[i] != srgbToLinear(bytes[x][i % 3])) return "slot " + std::to_string(i) + ": " + describe(p);
      return "";
    }));
  }
}

TEST(OversaturatePixel, ComponentAtOneKeepsThePixel) {
  const std::array<float, 3> colours[] = {{1, 0, 0}, {1, 0.5f, 0.2f}, {0.3f, 1, 0.6f}};
  for (float k : {1.25f, 1.5f, 1.75f, 2.0f})
    for (const auto& c : colours) {
      float out[3];
      oversaturatePixel(c.data(), k, out);
      for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(out[ch], c[ch]) << "k " << k << " " << describe(c.data());
    }
}

TEST(OversaturatePixel, PushAndPullBack) {
  struct Case {
    std::array<float, 3> in;
    float k;
    std::array<double, 3> expected;
    double tolerance;
  };
  const Case cases[] = {
      // Inside the cube: 2c - Y and 1.5c - 0.5Y, with Y = 0.30315.
      {{0.5f, 0.25f, 0.25f}, 2.0f, {0.69685, 0.19685, 0.19685}, 2e-6},
      {{0.5f, 0.25f, 0.25f}, 1.5f, {0.598425, 0.223425, 0.223425}, 2e-6},
      // Pushed above 1, then blended back to the surface; every k past the surface agrees.
      {{0.8f, 0.2f, 0.2f}, 2.0f, {1.0, 0.146, 0.146}, 5e-6},
      {{0.8f, 0.2f, 0.2f}, 1.5f, {1.0, 0.146, 0.146}, 5e-6},
      // Pushed below 0, then blended back until the smallest component is 0.
      {{0.3f, 0.02f, 0.3f}, 2.0f, {0.350225, 0.0, 0.350225}, 2e-6},
  };
  for (const auto& c : cases) {
    float out[3];
    oversaturatePixel(c.in.data(), c.k, out);
    for (int ch = 0; ch < 3; ++ch)
      EXPECT_NEAR(out[ch], c.expected[ch], c.tolerance) << describe(c.in.data()) << " k " << c.k << " component " << ch;
  }
}

// ---------------------------------------------------------------- Sharpening

TEST_P(BoxPass, WindowsAreClippedNotShifted) {
  // On a linear ramp the mean of a window is the ramp at the window's centre, so the
  // clipped corner window (3x3) and edge windows give values a shifted 5x5 cannot.
  StageFixture f(12, 10, {}, GetParam());
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) {
      float* p = f.s.work.at(y, x);
      for (int ch = 0; ch < 3; ++ch) p[ch] = float(x + 100 * y + 1000 * ch);
    }
  boxPass(f.s, 0, 3);
  struct Case {
    int x, y;
    float expected;  // for component 0
  };
  const Case cases[] = {
      {0, 0, 101},   // columns 0..2, rows 0..2
      {1, 0, 101.5}, // columns 0..3
      {0, 5, 501},   // columns 0..2, rows 3..7
      {11, 9, 810},  // columns 9..11, rows 7..9
      {10, 8, 759.5}, // columns 8..11, rows 6..9
      {5, 4, 405},   // the full 5x5
  };
  for (const auto& c : cases) {
    const float* p = f.s.work.at(c.y, c.x);
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_EQ(p[3 + ch], c.expected + 1000 * ch) << "(" << c.x << ", " << c.y << ") component " << ch;
      EXPECT_EQ(p[ch], float(c.x + 100 * c.y + 1000 * ch)) << "the pass changed its source slots";
    }
  }
}

TEST_P(Sharpen, UniformPictureStaysWithinRounding) {
  const float colour[3] = {0.3f, 0.55f, 0.8f};
  for (int level : {0, 1, 2}) {
    SCOPED_TRACE("sharpen " + std::to_string(level));
    StageFixture f(24, 20, withSharpen(level), GetParam());
    for (int y = 0; y < f.height(); ++y)
      for (int x = 0; x < f.width(); ++x) f.setColour(x, y, colour[0], colour[1], colour[2]);
    sharpen(f.s);
    EXPECT_TRUE(everyPixel(f.width(), f.height(), [&](int x, int y) -> std::string {
      const float* p = f.s.work.at(y, x);
      for (int ch = 0; ch < 3; ++ch) {
        if (ulpDistance(p[ch], colour[ch]) > 4) return "working " + describe(p);
        if (p[3 + ch] != p[ch]) return "target differs from working";
        if (p[6 + ch] != colour[ch]) return "unsharpened slots changed";
      }
      return "";
    }));
  }
}

TEST_P(Sharpen, NoSharpenKeepsTheOversaturatedColourBitForBit) {
  StageFixture f(30, 20, withOversaturate(150), GetParam());
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) f.setBytes(x, y, (x * 53 + y) & 255, (x * 7 + y * 31) & 255, (y * 97) & 255);
  oversaturate(f.s);
  const auto before = f.s.work.v;
  f.s.settings.sharpen = 0;
  sharpen(f.s);
  EXPECT_TRUE(everyPixel(f.width(), f.height(), [&](int x, int y) -> std::string {
    const float* p = f.s.work.at(y, x);
    const float* q = before.data() + (size_t(y) * size_t(f.width()) + size_t(x)) * WorkPixels::kSlots;
    for (int ch = 0; ch < 3; ++ch) {
      if (std::bit_cast<uint32_t>(p[ch]) != std::bit_cast<uint32_t>(q[ch])) return "working " + describe(p);
      if (std::bit_cast<uint32_t>(p[3 + ch]) != std::bit_cast<uint32_t>(p[ch])) return "target " + describe(p + 3);
    }
    return "";
  }));
}

TEST_P(Sharpen, VerticalStep) {
  // 0.2 in columns 0..31, 0.6 from column 32. The four box passes make a 17-tap kernel
  // of weight 85/625 at its centre, so the blur at column 31 is 0.2 + 0.4 * 270/625.
  struct Case {
    int level;
    double lastLeft, firstRight;
  };
  const Case cases[] = {{2, 0.0704, 0.7296}, {1, 0.1352, 0.6648}};
  const int w = 64, h = 40, step = 32;
  for (const auto& c : cases) {
    SCOPED_TRACE("sharpen " + std::to_string(c.level));
    StageFixture f(w, h, withSharpen(c.level), GetParam());
    auto level = [&](int x) { return x < step ? 0.2f : 0.6f; };
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f.setColour(x, y, level(x), level(x), level(x));
    sharpen(f.s);
    for (int y = 10; y < h - 10; ++y) {
      for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(f.s.work.at(y, step - 1)[ch], c.lastLeft, 1e-5) << "row " << y;
        EXPECT_NEAR(f.s.work.at(y, step)[ch], c.firstRight, 1e-5) << "row " << y;
      }
    }
    // Column 24 is eight columns from the step and still reached; column 23 is not.
    const int row = h / 2;
    EXPECT_TRUE(everyPixel(w, 1, [&](int x, int) -> std::string {
      const float v = f.s.work.at(row, x)[0];
      const int distance = x < step ? step - x : x - (step - 1);
      if (distance > 8 && ulpDistance(v, level(x)) > 4) return "changed to " + std::to_string(v);
      if (distance <= 8 && std::fabs(v - level(x)) < 1e-4) return "unchanged at " + std::to_string(v);
      return "";
    }));
  }
}

TEST_P(Sharpen, ThinBrightLineIsClamped) {
  // A one-pixel line of 0.8 on black: 2v - blur exceeds 1 on the line and falls below 0
  // beside it, so the line ends at (3 + 0.8) / 4 and its neighbours at 0.
  struct Case {
    int level;
    float line;
  };
  const Case cases[] = {{2, 0.95f}, {1, (0.95f + 0.8f) / 2}};
  const int w = 64, h = 40, column = 32;
  for (const auto& c : cases) {
    SCOPED_TRACE("sharpen " + std::to_string(c.level));
    StageFixture f(w, h, withSharpen(c.level), GetParam());
    for (int y = 0; y < h; ++y) f.setColour(column, y, 0.8f, 0.8f, 0.8f);
    sharpen(f.s);
    for (int y : {5, 20, 34}) {
      for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(f.s.work.at(y, column)[ch], c.line, 1e-6) << "row " << y;
        EXPECT_EQ(f.s.work.at(y, column - 1)[ch], 0.0f) << "row " << y;
        EXPECT_EQ(f.s.work.at(y, column + 1)[ch], 0.0f) << "row " << y;
      }
    }
  }
}

// ---------------------------------------------------------------- Input colour range

// Puts `colours` into WorkPixel slots 3-5 in scan order, with junk in slots 0-2 and 6-8
// that the stage must neither read nor leave behind.
void setTargets(StageFixture& f, const std::vector<std::array<float, 3>>& colours) {
  for (size_t i = 0; i < colours.size(); ++i) {
    const int x = int(i) % f.width(), y = int(i) / f.width();
    float* p = f.s.work.at(y, x);
    for (int ch = 0; ch < 3; ++ch) {
      p[ch] = 7.0f;
      p[3 + ch] = colours[i][ch];
      p[6 + ch] = -7.0f;
    }
  }
}

TEST_P(ColorRange, ExactPrimaryMakesEveryTargetItsCorner) {
  const std::vector<std::array<float, 3>> colours = {
      {1, 0, 0}, {0.5f, 0.5f, 0.5f}, {0.1f, 0.1f, 0.1f}, {0, 1, 1}, {0.3f, 0.6f, 0.2f}, {0.9f, 0.9f, 0.85f},
  };
  for (int level : {1, 2}) {
    SCOPED_TRACE("colorRange " + std::to_string(level));
    StageFixture f(3, 2, withColorRange(level), GetParam());
    setTargets(f, colours);
    buildRangeTables(f.s);
    for (int k = 0; k < 8; ++k)
      for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(f.s.rangeTargets[k][ch], kCubeCorners[k][ch]) << "target " << k;
        EXPECT_EQ(f.s.rangeTargets[k + 8][ch], float(kCubeCorners[k][ch] * kHalfLevel)) << "target " << k + 8;
        EXPECT_EQ(f.s.rangeSources[k][ch], kCubeCorners[k][ch]) << "source " << k;
        EXPECT_EQ(f.s.rangeSources[k + 8][ch], float(kCubeCorners[k][ch] * kHalfLevel)) << "source " << k + 8;
      }

    stretchColorRange(f.s);
    struct Expect {
      int x, y;
      std::array<double, 3> colour;
      double tolerance;
    };
    const Expect expects[] = {
        {0, 0, {1, 0, 0}, 0},
        {1, 0, {0.49975, 0.49975, 0.49975}, 1e-5},
        {2, 0, {0.10065, 0.10065, 0.10065}, 1e-5},
        {0, 1, {0, 1, 1}, 0},
    };
    for (const auto& e : expects) {
      const float* p = f.s.work.at(e.y, e.x);
      for (int ch = 0; ch < 3; ++ch)
        for (int base : {0, 3, 6})
          EXPECT_NEAR(p[base + ch], e.colour[ch], e.tolerance) << "(" << e.x << ", " << e.y << ") slot " << base + ch;
    }
  }
}

// The eight corners squeezed into 0.1..0.8, then greys between.
std::vector<std::array<float, 3>> compressedCorners() {
  std::vector<std::array<float, 3>> colours;
  for (int k = 0; k < 8; ++k)
    colours.push_back({0.1f + 0.7f * kCubeCorners[k][0], 0.1f + 0.7f * kCubeCorners[k][1],
                       0.1f + 0.7f * kCubeCorners[k][2]});
  for (float g : {0.3f, 0.45f, 0.6f, 0.7f}) colours.push_back({g, g, g});
  return colours;
}

TEST_P(ColorRange, FoundColoursArePulledByTheChromaticRadius) {
  // Red, green and blue lie 0.06 from their corners: that is R. Black (0.03) is nearer
  // than R and stays; cyan, magenta, yellow (0.09) move a third of the way; white (0.12)
  // half of it.
  StageFixture f(4, 3, withColorRange(2), GetParam());
  setTargets(f, compressedCorners());
  buildRangeTables(f.s);
  const double third = 0.8 * 2 / 3 + 1.0 / 3, low = 0.1 * 2 / 3;
  const std::array<double, 3> expected[8] = {
      {0.1, 0.1, 0.1},    {0.1, 0.1, 0.8},     {0.1, 0.8, 0.1},     {low, third, third},
      {0.8, 0.1, 0.1},    {third, low, third}, {third, third, low}, {0.9, 0.9, 0.9},
  };
  for (int k = 0; k < 8; ++k)
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(f.s.rangeTargets[k][ch], expected[k][ch], 1e-6) << "corner " << k;
  EXPECT_NEAR(expected[6][0], 0.8667, 1e-4);
  EXPECT_NEAR(expected[6][2], 0.0667, 1e-4);
}

TEST_P(ColorRange, CompressedPictureIsSpreadToTheCube) {
  struct Case {
    int level;
    std::array<float, 3> in;
    std::array<double, 3> out;
    double tolerance;
  };
  const Case cases[] = {
      {2, {0.8f, 0.1f, 0.1f}, {1, 0, 0}, 0},
      {2, {0.1f, 0.1f, 0.1f}, {0, 0, 0}, 0},
      {2, {0.8f, 0.8f, 0.8f}, {0.886, 0.886, 0.886}, 5e-4},
      {1, {0.8f, 0.1f, 0.1f}, {0.886, 0.058, 0.058}, 5e-4},
  };
  for (int level : {1, 2}) {
    SCOPED_TRACE("colorRange " + std::to_string(level));
    const auto colours = compressedCorners();
    StageFixture f(4, 3, withColorRange(level), GetParam());
    setTargets(f, colours);
    stretchColorRange(f.s);
    for (const auto& c : cases) {
      if (c.level != level) continue;
      size_t i = 0;
      while (colours[i] != c.in) ++i;
      const float* p = f.s.work.at(int(i) / f.width(), int(i) % f.width());
      for (int base : {0, 3, 6})
        for (int ch = 0; ch < 3; ++ch)
          EXPECT_NEAR(p[base + ch], c.out[ch], c.tolerance) << describe(c.in.data()) << " slot " << base + ch;
    }
  }
}

TEST_P(ColorRange, FirstPixelInScanOrderWinsATie) {
  // Both colours lie exactly 0.140625 from red, nearer than any other chromatic corner is
  // to anything here, so red's found colour is not pulled. (1, 0) comes before (0, 1)
  // when rows are scanned first.
  const std::array<float, 3> a = {0.75f, 0.25f, 0.125f}, b = {0.75f, 0.125f, 0.25f}, grey = {0.5f, 0.5f, 0.5f};
  struct Case {
    std::array<float, 3> atX1Y0, atX0Y1;
  };
  const Case cases[] = {{a, b}, {b, a}};
  for (const auto& c : cases) {
    StageFixture f(2, 2, withColorRange(2), GetParam());
    setTargets(f, {grey, c.atX1Y0, c.atX0Y1, grey});
    buildRangeTables(f.s);
    for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(f.s.rangeTargets[4][ch], c.atX1Y0[ch]) << "component " << ch;
  }
}

TEST_P(ColorRange, NegativeComponentsClippedButDistanceKept) {
  // (-0.125, 0, 0.75) is blue's found colour: stored as (0, 0, 0.75) with the distance of
  // the unclipped colour, 0.078125, which is R. Red's found colour (0.75, 0.25, 0),
  // 0.125 away, is pulled by o = 0.625; with the clipped distance (0.0625) it would be 0.5.
  StageFixture f(2, 1, withColorRange(2), GetParam());
  setTargets(f, {{-0.125f, 0, 0.75f}, {0.75f, 0.25f, 0}});
  buildRangeTables(f.s);
  const float blue[3] = {0, 0, 0.75f}, red[3] = {0.84375f, 0.15625f, 0};
  for (int ch = 0; ch < 3; ++ch) {
    EXPECT_EQ(f.s.rangeTargets[1][ch], blue[ch]) << "blue, component " << ch;
    EXPECT_EQ(f.s.rangeTargets[4][ch], red[ch]) << "red, component " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, ExpandHdr, ::testing::Values(Kernels::Plain, Kernels::Fast),
                         testing::kernelsName);
INSTANTIATE_TEST_SUITE_P(Kernels, Oversaturate, ::testing::Values(Kernels::Plain, Kernels::Fast),
                         testing::kernelsName);
INSTANTIATE_TEST_SUITE_P(Kernels, BoxPass, ::testing::Values(Kernels::Plain, Kernels::Fast),
                         testing::kernelsName);
INSTANTIATE_TEST_SUITE_P(Kernels, Sharpen, ::testing::Values(Kernels::Plain, Kernels::Fast),
                         testing::kernelsName);
INSTANTIATE_TEST_SUITE_P(Kernels, ColorRange, ::testing::Values(Kernels::Plain, Kernels::Fast),
                         testing::kernelsName);

}  // namespace
}  // namespace tavrix
