#include "reduce/cell_pairs.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace tavrix {
namespace {

struct CellFixture {
  Picture result{320, 200};
  PrgImage prg;
  ConversionState s;
  explicit CellFixture(int outputMode) {
    s.result = &result;
    s.prg = &prg;
    s.settings.outputMode = outputMode;
    s.rowGroupShift = rowGroupShift(outputMode);
    s.labPairs.allocate(320, 200);
    s.errors.allocate(320, 200);
    buildPaletteTables(s.palette, false);
  }
  void setBoth(int x, int y, int entry) {
    for (int c = 0; c < 3; ++c) s.labPairs.dithered(y, x)[c] = s.labPairs.mixed(y, x)[c] = s.palette.lab[entry][c];
  }
  void setHalves(int x, int y, int dithered, int mixed) {
    for (int c = 0; c < 3; ++c) {
      s.labPairs.dithered(y, x)[c] = s.palette.lab[dithered][c];
      s.labPairs.mixed(y, x)[c] = s.palette.lab[mixed][c];
    }
  }
  void tables() {
    buildErrorTable(s, 0);
    buildErrorTable(s, 1);
  }
};

TEST(CellPairs, UniformCells) {
  struct Case {
    int entry;
    CellPair pair;
    uint8_t bitmap, colour, luminance;
  } cases[] = {
      {7, {7, 8}, 0xFF, 0x01, 0x07},        // black: (7, 8), every pixel on bit 1
      {13, {7, 13}, 0x00, 0x01, 0x57},      // entry k > 7: (7, k), shown through bit 0
      {100, {7, 100}, 0x00, 0x0C, 0x47},
      {127, {7, 127}, 0x00, 0x0F, 0x77},
  };
  for (const auto& c : cases) {
    CellFixture f(0);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) f.setBoth(x, y, c.entry);
    f.tables();
    CellPair pair = selectCellPair(f.s, {0, 7, 0, 7});
    EXPECT_EQ(pair, c.pair) << c.entry;
    encodeCell(f.s, 0, 0, pair);
    for (int y = 0; y < 8; ++y) EXPECT_EQ(f.prg.at(0x4000 + y), c.bitmap) << c.entry;
    EXPECT_EQ(f.prg.at(0x6400), c.colour) << c.entry;
    EXPECT_EQ(f.prg.at(0x6000), c.luminance) << c.entry;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) EXPECT_EQ(f.result.at(x, y), displayColor(c.entry == 7 ? 7 : c.entry));
  }
}

TEST(CellPairs, SecondTableRanksAndFirstTableDecidesBits) {
  // Mixed colours (second table) say 40 and 90; dithered colours (first table) say 41 and 90.
  // The pair must come from the mixed colours; each pixel's bit from the dithered ones.
  CellFixture f(2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) f.setHalves(x, y, x < 4 ? 41 : 90, x < 4 ? 40 : 90);
  f.tables();
  CellPair pair = selectCellPair(f.s, {0, 1, 0, 7});
  EXPECT_EQ(pair, (CellPair{40, 90}));
  encodeCell(f.s, 0, 0, pair);
  // Bit 1 (first = 40) where the dithered colour 41 lies nearer to 40 than to 90.
  const float* e = f.s.errors.at(0, 0);
  ASSERT_LT(e[40], e[90]);
  EXPECT_EQ(f.prg.at(0x4000), 0xF0);
  EXPECT_EQ(f.prg.at(0x4001), 0xF0);
}

TEST(CellPairs, EqualDistanceShowsTheFirstColour) {
  CellFixture f(2);
  f.tables();
  float* e = f.s.errors.at(0, 3);
  e[20] = e[30] = 5.0f;
  encodeCell(f.s, 0, 0, {20, 30});
  EXPECT_EQ(f.prg.at(0x4000) & 0x10, 0x10);  // pixel 3 is bit 4
  EXPECT_EQ(f.result.at(3, 0), displayColor(20));
}

TEST(CellPairs, TiesOfBothSumsKeepTheFirstPair) {
  // Two pixels, entries 50 and 60, in both halves: (50, 60) scores u = t = 0 and no later
  // pair beats it; an earlier pair cannot reach 0.
  CellFixture f(2);
  for (int x = 0; x < 8; ++x) f.setBoth(x, 0, 50), f.setBoth(x, 1, 60);
  f.tables();
  EXPECT_EQ(selectCellPair(f.s, {0, 1, 0, 7}), (CellPair{50, 60}));
}

TEST(CellPairs, LayoutAddresses) {
  struct Case {
    int shift, group, cell, luminance, colour;
  } cases[] = {
      {3, 0, 0, 0x6000, 0x6400},  {3, 24, 39, 0x63E7, 0x67E7},  // Normal, before relocation
      {2, 1, 0, 0x6800, 0x6C00},  {2, 1, 5, 0x6805, 0x6C05},    // QFLI: rows 4-7
      {2, 2, 0, 0x6028, 0x6428},  {2, 49, 39, 0x6BE7, 0x6FE7},  // rows 8-11; the last cell
      {1, 99, 39, 0x7BE7, 0x7FE7}, {1, 1, 0, 0x6800, 0x6C00},   // DFLI, XS-DFLI
      {1, 2, 0, 0x7000, 0x7400},  {1, 4, 0, 0x6028, 0x6428},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(luminanceAddress(c.shift, c.group, c.cell), c.luminance) << c.shift << " " << c.group;
    EXPECT_EQ(colourAddress(c.shift, c.group, c.cell), c.colour) << c.shift << " " << c.group;
  }
  EXPECT_EQ(bitmapAddress(0, 0), 0x4000);
  EXPECT_EQ(bitmapAddress(8, 0), 0x4008);
  EXPECT_EQ(bitmapAddress(0, 7), 0x4007);
  EXPECT_EQ(bitmapAddress(0, 8), 0x4140);
  EXPECT_EQ(bitmapAddress(319, 199), 0x5F3F);
}

TEST(CellPairs, ErrorTablesHoldDistancesToEachHalf) {
  CellFixture f(2);
  f.setHalves(4, 3, 30, 90);
  f.tables();
  const float* e = f.s.errors.at(3, 4);
  EXPECT_EQ(e[30], 0.0f);
  EXPECT_EQ(e[128 + 90], 0.0f);
  EXPECT_EQ(e[90], labDistance(f.s.palette.lab[90], f.s.palette.lab[30]));
  EXPECT_EQ(e[128 + 7], labDistance(f.s.palette.lab[7], f.s.palette.lab[90]));
  for (int j = 0; j < kFirstEntry; ++j) EXPECT_EQ(e[j], 0.0f);  // never written
}

}  // namespace
}  // namespace tavrix
