#include "plus4/raster_routine.h"

#include <gtest/gtest.h>

#include <vector>

#include "reduce/cell_pairs.h"
#include "tests/test_support.h"

namespace tavrix {
namespace {

struct XsFixture {
  Picture result{320, 200};
  PrgImage prg;
  ConversionState s;
  explicit XsFixture(Kernels kernels = Kernels::Plain) {
    s.kernels = kernels;
    s.result = &result;
    s.prg = &prg;
    s.settings.outputMode = 3;
    s.rowGroupShift = 1;
    s.sourceBytes.allocate(320, 200);
    s.labPairs.allocate(320, 200);
    s.errors.allocate(320, 200);
    s.lineShift.assign(200, 0);
    buildPaletteTables(s.palette, false);
    assemblePrgImage(prg, 3);
  }
  std::vector<uint8_t> bytes(int address, int n) {
    std::vector<uint8_t> v;
    for (int i = 0; i < n; ++i) v.push_back(prg.at(address + i));
    return v;
  }
};

TEST(RasterRoutine, PieceZeroExampleLengthAndEnd) {
  XsFixture f;
  f.s.lineShift[0] = 3;
  generateRasterRoutine(f.s);
  const std::vector<uint8_t> piece0 = {0x8D, 0x06, 0xFF, 0x8C, 0x14, 0xFF, 0xA9, 0x0B, 0x8D,
                                       0x07, 0xFF, 0xE8, 0xE8, 0xA9, 0x0B, 0xA0, 0x68, 0x8D,
                                       0x07, 0xFF, 0xA9, 0x3D, 0xEC, 0x1D, 0xFF, 0xD0, 0xFB};
  EXPECT_EQ(f.bytes(0x201F, 27), piece0);
  // The prologue is the first 31 bytes of the DFLI viewer.
  PrgImage dfli;
  assemblePrgImage(dfli, 2);
  for (int i = 0; i < 31; ++i) EXPECT_EQ(f.prg.at(0x2000 + i), dfli.at(0x2000 + i)) << i;
  EXPECT_EQ(f.bytes(0x2AC6, 3), (std::vector<uint8_t>{0x4C, 0x01, 0x20}));
  EXPECT_EQ(0x2AC9 - 0x2000, kRasterRoutineLength);
  EXPECT_EQ(f.prg.at(0x2AC9), 0);
}

TEST(RasterRoutine, PiecesReadTheirLineShifts) {
  XsFixture f;
  for (int y = 0; y < 200; ++y) f.s.lineShift[y] = (y * 5 + 1) % 8;
  generateRasterRoutine(f.s);
  for (int p = 0; p <= 100; ++p) {
    const int at = 0x201F + 27 * p;
    EXPECT_EQ(f.prg.at(at + 7), f.s.lineShift[std::max(2 * p - 1, 0)] + 8) << p;
    EXPECT_EQ(f.prg.at(at + 14), f.s.lineShift[std::min(2 * p, 199)] + 8) << p;
    EXPECT_EQ(f.prg.at(at + 16), ((p + 1) & 3) * 8 + 0x60) << p;
    EXPECT_EQ(f.prg.at(at + 21), ((p + 2) & 3) * 2 + 0x39) << p;
  }
  // Piece 100 reads row 199 twice, piece 0 row 0 twice.
  EXPECT_EQ(f.prg.at(0x201F + 2700 + 7), f.s.lineShift[199] + 8);
  EXPECT_EQ(f.prg.at(0x201F + 2700 + 14), f.s.lineShift[199] + 8);
  EXPECT_EQ(f.prg.at(0x201F + 7), f.s.lineShift[0] + 8);
}

TEST(LineShifts, FlatColourKeepsEveryShiftZero) {
  for (Kernels kernels : {Kernels::Plain, Kernels::Fast}) {
    XsFixture f(kernels);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x)
        for (int c = 0; c < 3; ++c) f.s.labPairs.mixed(y, x)[c] = f.s.palette.lab[45][c];
    findNearestEntries(f.s);
    EXPECT_EQ(f.s.sourceBytes.nearestEntry(10, 10), 45);
    searchLineShifts(f.s);
    for (int y = 0; y < 200; ++y) ASSERT_EQ(f.s.lineShift[y], 0);
    generateRasterRoutine(f.s);
    for (int p = 0; p <= 100; ++p) {
      EXPECT_EQ(f.prg.at(0x201F + 27 * p + 7), 0x08);
      EXPECT_EQ(f.prg.at(0x201F + 27 * p + 14), 0x08);
    }
  }
}

TEST(LineShifts, ShiftAlignsStripesToTheCellGrid) {
  // Row 2g: 8-wide stripes starting at column 3; row 2g + 1: starting at column 6.
  // Shifts (3, 6) put every stripe into one cell: 1 entry per row, 2 per cell.
  for (Kernels kernels : {Kernels::Plain, Kernels::Fast}) {
    XsFixture f(kernels);
    for (int y = 0; y < 200; ++y) {
      const int start = y % 2 == 0 ? 3 : 6;
      for (int x = 0; x < 320; ++x) {
        int stripe = ((x - start + 320) % 320) / 8;
        f.s.sourceBytes.nearestEntry(y, x) = uint8_t(stripe % 2 == 0 ? 20 : 60);
      }
    }
    searchLineShifts(f.s);
    for (int g = 0; g < 100; ++g) {
      EXPECT_EQ(f.s.lineShift[2 * g], 3) << g;
      EXPECT_EQ(f.s.lineShift[2 * g + 1], 6) << g;
    }
  }
}

TEST(LineShifts, SmoothingAveragesOnlyThePixelsShiftedPastTheEdge) {
  XsFixture f;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 320; ++x)
      for (int c = 0; c < 6; ++c) f.s.labPairs.at(y, x)[c] = float(x * 10 + c + y * 1000);
  f.s.lineShift[0] = 0;
  f.s.lineShift[1] = 5;
  auto before = f.s.labPairs.v;
  smoothShiftedEdge(f.s);
  for (int c = 0; c < 6; ++c) {
    float sum = 0;
    for (int x = 0; x < 5; ++x) sum += before[(320 + x) * 6 + c];
    float mean = float(double(sum) / 5);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(f.s.labPairs.at(1, x)[c], mean);
    EXPECT_EQ(f.s.labPairs.at(1, 5)[c], before[(320 + 5) * 6 + c]);
    EXPECT_EQ(f.s.labPairs.at(0, 0)[c], before[c]);  // row 2g has shift 0: untouched
  }
}

TEST(LineShifts, RotationStoresEachRowRotatedLeft) {
  XsFixture f;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x)
      for (int c = 0; c < 6; ++c) f.s.labPairs.at(y, x)[c] = float(y * 10000 + x * 10 + c);
  f.s.lineShift[4] = 7;
  f.s.lineShift[5] = 1;
  rotateShiftedRows(f.s);
  EXPECT_EQ(f.s.labPairs.at(4, 0)[2], float(40000 + 70 + 2));
  EXPECT_EQ(f.s.labPairs.at(4, 313)[0], float(40000 + 0));  // picture column 0 wraps to the end
  EXPECT_EQ(f.s.labPairs.at(5, 319)[5], float(50000 + 5));
  EXPECT_EQ(f.s.labPairs.at(6, 17)[1], float(60000 + 170 + 1));
}

struct FixCase {
  int even, odd;  // LineShift of rows 2g and 2g + 1
  uint8_t a, b;   // bitmap bytes of cell 39 in rows 2g and 2g + 1
  bool acts;
};

TEST(LineShifts, FixLastCellDecision) {
  const FixCase cases[] = {
      {0, 0, 0xFF, 0xFF, false},                             // shifts (0, 0): never
      {3, 0, 0x01, 0x00, true},                              // the even row decides
      {3, 0, 0x00, 0x01, false}, {2, 4, 0x00, 0x01, false},  // both shifted: only the even row's bit counts
      {0, 5, 0x00, 0x01, true},                              // even row unshifted: the odd row decides
      {0, 5, 0x01, 0x00, false},
  };
  for (const auto& c : cases) {
    XsFixture f;
    const int g = 6;
    f.s.lineShift[2 * g] = c.even;
    f.s.lineShift[2 * g + 1] = c.odd;
    const int aAt = bitmapAddress(312, 2 * g), bAt = bitmapAddress(312, 2 * g + 1);
    f.prg.at(aAt) = c.a;
    f.prg.at(bAt) = c.b;
    f.prg.at(colourAddress(1, g, 39)) = 0x3C;
    f.prg.at(luminanceAddress(1, g, 39)) = 0x52;
    fixLastCell(f.s, g);
    EXPECT_EQ(f.prg.at(aAt), c.acts ? uint8_t(~c.a) : c.a) << c.even << c.odd;
    EXPECT_EQ(f.prg.at(bAt), c.acts ? uint8_t(~c.b) : c.b) << c.even << c.odd;
    EXPECT_EQ(f.prg.at(colourAddress(1, g, 39)), c.acts ? 0xC3 : 0x3C);
    EXPECT_EQ(f.prg.at(luminanceAddress(1, g, 39)), c.acts ? 0x25 : 0x52);
  }
}

TEST(LineShifts, PreviewRotationPutsPixelsBackInPlace) {
  XsFixture f;
  for (int x = 0; x < 320; ++x) f.result.at(x, 10) = f.result.at(x, 11) = uint32_t(x);
  f.s.lineShift[10] = 3;
  f.s.lineShift[11] = 0;
  rotatePreviewRows(f.s, 5);
  EXPECT_EQ(f.result.at(3, 10), 0u);
  EXPECT_EQ(f.result.at(0, 10), 317u);
  EXPECT_EQ(f.result.at(319, 10), 316u);
  EXPECT_EQ(f.result.at(0, 11), 0u);
}

}  // namespace
}  // namespace tavrix
