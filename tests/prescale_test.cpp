#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "app/io/image_io.h"

namespace tavrix {
namespace {

Picture filled(int w, int h, uint32_t value) {
  Picture p(w, h);
  std::fill(p.pixels.begin(), p.pixels.end(), value);
  return p;
}

Picture noise(int w, int h, uint32_t seed, uint32_t mask = 0xFFFFFFFFu) {
  std::mt19937 rng(seed);
  Picture p(w, h);
  for (uint32_t& v : p.pixels) v = rng() & mask;
  return p;
}

TEST(Prescale, TargetSize) {
  struct Case { int crop, w, h; };
  const Case kCases[] = {{-1, 320, 200}, {0, 320, 200}, {1, 320, 200}, {2, 327, 207}, {3, 327, 207}};
  for (const Case& c : kCases) {
    EXPECT_EQ(targetWidth(c.crop), c.w) << c.crop;
    EXPECT_EQ(targetHeight(c.crop), c.h) << c.crop;
  }
}

TEST(Prescale, DrawingRectangles) {
  struct Case { int w, h, crop; DrawRect rect; };
  const Case kCases[] = {
      {640, 480, 0, {0, -80, 1280, 960}},
      {640, 480, 1, {96, 0, 1056, 800}},  // 1067 wide, centred at 112, both lowered to the cell grid
      {640, 480, 2, {0, -76, 1308, 981}},
      {640, 480, 3, {102, 0, 1104, 828}},
      {320, 200, 2, {-8, 0, 1325, 828}},  // -17 / 2 truncates toward zero
      {320, 200, 3, {0, 5, 1308, 818}},
      {327, 207, 1, {0, 0, 1248, 800}},
      {1920, 1080, 1, {0, 32, 1280, 704}},
      {1920, 1080, 0, {-71, 0, 1422, 800}},
      {640, 480, -1, {0, -80, 1280, 960}},  // no selected item: "320x200 crop"
      {100000, 1, 0, {-39999360, 0, 80000000, 800}},
      {1, 100000, 1, {640, 0, 0, 800}},  // thinner than one cell: nothing is drawn
      {3000000, 1, 0, {-1199999360, 0, 2400000000, 800}},  // 2.4e9 canvas pixels: more than an int holds
      {1, 2000000, 0, {0, -1279999600, 1280, 2560000000}},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(drawingRect(c.w, c.h, c.crop), c.rect) << c.w << "x" << c.h << " choice " << c.crop;
}

TEST(Prescale, RejectsEmptyPictures) {
  EXPECT_THROW(drawingRect(0, 10, 0), std::invalid_argument);
  EXPECT_THROW(drawingRect(10, 0, 1), std::invalid_argument);
  EXPECT_THROW(prescale(Picture(), 0), std::invalid_argument);
}

TEST(Prescale, ExactSizeIsTakenOverUnchanged) {
  struct Case { int w, h, crop; };
  const Case kCases[] = {{320, 200, 0}, {320, 200, 1}, {327, 207, 2}, {327, 207, 3}};
  for (const Case& c : kCases) {
    // Full 32-bit noise: any filtering would average it and clear the top byte.
    const Picture in = noise(c.w, c.h, 7);
    const Picture out = prescale(in, c.crop);
    EXPECT_EQ(out.width, c.w);
    EXPECT_EQ(out.height, c.h);
    EXPECT_EQ(out.pixels, in.pixels) << "choice " << c.crop;
  }
}

// A 1280x800 picture lands on the 320x200 canvas one to one, so each output pixel is
// exactly the box filter of one 4x4 block of the input.
TEST(Prescale, BoxFilterRoundsHalvesUpAndClearsTopByte) {
  struct Block { int ones; uint32_t expected; };  // `ones` pixels of $FF010100, the rest $FF0000FF
  const Block kBlocks[] = {
      // red: ones x 1; green: ones x 1; blue: (16 - ones) x 255, all + 8 >> 4
      {0, 0x0000FF},
      {7, 0x00008F},   // 7 + 8 = 15 >> 4 = 0; 9 x 255 = 2295 + 8 >> 4 = 143
      {8, 0x010180},   // 8 + 8 = 16 >> 4 = 1: a half rounds up; 2040 + 8 >> 4 = 128
      {9, 0x010170},
      {16, 0x010100},
  };
  Picture in = filled(1280, 800, 0xFF0000FFu);
  for (size_t b = 0; b < std::size(kBlocks); ++b)
    for (int i = 0; i < kBlocks[b].ones; ++i) in.at(int(4 * b) + i % 4, 4 + i / 4) = 0xFF010100u;
  ASSERT_EQ(drawingRect(1280, 800, 0), (DrawRect{0, 0, 1280, 800}));

  const Picture out = prescale(in, 0);
  for (size_t b = 0; b < std::size(kBlocks); ++b)
    EXPECT_EQ(out.at(int(b), 1), kBlocks[b].expected) << kBlocks[b].ones << " ones";
  EXPECT_EQ(out.at(100, 100), 0x0000FFu);
}

TEST(Prescale, NearestPixelKeepsOrientation) {
  // 640x400 fills the canvas at twice its size: each output pixel is the mean of a 2x2 block.
  const Picture in = noise(640, 400, 11, 0x00FFFFFF);
  const Picture out = prescale(in, 0);
  for (int y : {0, 1, 57, 199})
    for (int x : {0, 1, 123, 319}) {
      uint32_t expected = 0;
      for (int shift : {16, 8, 0}) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx) sum += int(in.at(2 * x + dx, 2 * y + dy) >> shift & 255);
        expected |= uint32_t((4 * sum + 8) >> 4) << shift;
      }
      EXPECT_EQ(out.at(x, y), expected) << x << "," << y;
    }
}

TEST(Prescale, FittedPicturesHaveBlackBorders) {
  // White inside [x0, x1) x [y0, y1) of the output, black elsewhere.
  struct Case { int w, h, crop, x0, x1, y0, y1; };
  const Case kCases[] = {
      {640, 480, 1, 24, 288, 0, 200},
      {327, 207, 1, 0, 312, 0, 200},
      {1920, 1080, 1, 0, 320, 8, 184},
      {1, 100000, 1, 0, 0, 0, 0},
  };
  for (const Case& c : kCases) {
    const Picture out = prescale(filled(c.w, c.h, 0xFFFFFF), c.crop);
    ASSERT_EQ(out.width, 320);
    int wrong = 0;
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x) {
        const bool inside = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
        wrong += out.at(x, y) != (inside ? 0xFFFFFFu : 0u);
      }
    EXPECT_EQ(wrong, 0) << c.w << "x" << c.h;
  }
}

TEST(Prescale, CropCutsTheOverhang) {
  // 640x480 under "320x200 crop" loses 40 source rows at the top and at the bottom.
  Picture edges = filled(640, 480, 0xFFFFFF), middle = filled(640, 480, 0);
  for (int y = 40; y < 440; ++y)
    for (int x = 0; x < 640; ++x) {
      edges.at(x, y) = 0;
      middle.at(x, y) = 0xFFFFFF;
    }
  const Picture cutEdges = prescale(edges, 0), keptMiddle = prescale(middle, 0);
  EXPECT_EQ(std::count(cutEdges.pixels.begin(), cutEdges.pixels.end(), 0u), 320 * 200);
  EXPECT_EQ(std::count(keptMiddle.pixels.begin(), keptMiddle.pixels.end(), 0xFFFFFFu), 320 * 200);

  // 100000x1 is drawn 80 million canvas pixels wide; only its middle columns are seen.
  Picture strip(100000, 1);
  for (int x = 49990; x < 50010; ++x) strip.at(x, 0) = 0x123456;
  const Picture out = prescale(strip, 0);
  EXPECT_EQ(std::count(out.pixels.begin(), out.pixels.end(), 0x123456u), 320 * 200);
}

TEST(Prescale, MissingChoiceConvertsAsCrop) {
  const Picture in = noise(500, 300, 3, 0x00FFFFFF);
  EXPECT_EQ(prescale(in, -1).pixels, prescale(in, 0).pixels);
}

}  // namespace
}  // namespace tavrix
