#include "reduce/dither.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/test_support.h"

namespace tavrix {
namespace {

// A 320x200 state whose candidate lists hold a position code in every slot: entry 8 + slot,
// so the entry a dither picks tells which slot it read.
struct DitherFixture {
  Picture result{320, 200};
  PrgImage prg;
  ConversionState s;
  explicit DitherFixture(int dither) {
    s.result = &result;
    s.prg = &prg;
    s.settings.dither = dither;
    s.work.allocate(320, 200);
    s.candidates.allocate(320, 200);
    s.labPairs.allocate(320, 200);
    buildPaletteTables(s.palette, false);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x)
        for (int k = 0; k < 16; ++k) s.candidates.at(y, x)[k] = uint8_t(8 + k);
  }
  // The slot whose entry's Lab ended in LabPair 0-2 before the 50/50 blend.
  int slotPicked(int y, int x) {
    const float* p = s.labPairs.at(y, x);
    for (int k = 0; k < 16; ++k) {
      const float* lab = s.palette.lab[8 + k];
      bool same = true;
      for (int c = 0; c < 3; ++c) same &= p[c] == float(0.5 * lab[c] + 0.5 * p[c + 3]);
      if (same) return k;
    }
    return -1;
  }
};

TEST(BuildLabPairs, PatternPositions) {
  DitherFixture f(2);
  Random random(1);
  buildLabPairs(f.s, random);
  struct {
    int x, y, slot;
  } cases[] = {{0, 0, 0}, {1, 0, 8}, {0, 1, 12}, {1, 1, 4}, {4, 0, 0}, {5, 4, 8}, {3, 3, 5}, {318, 199, 13}};
  for (const auto& c : cases) EXPECT_EQ(f.slotPicked(c.y, c.x), c.slot) << c.x << "," << c.y;
}

TEST(BuildLabPairs, RandomPicksOwnCandidatesAndDependsOnTheSeed) {
  DitherFixture a(3), b(3), c(3);
  Random ra(42), rb(42), rc(43);
  buildLabPairs(a.s, ra);
  buildLabPairs(b.s, rb);
  buildLabPairs(c.s, rc);
  EXPECT_EQ(a.s.labPairs.v, b.s.labPairs.v);
  EXPECT_NE(a.s.labPairs.v, c.s.labPairs.v);
  int histogram[16] = {};
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) {
      int k = a.slotPicked(y, x);
      ASSERT_GE(k, 0);
      ++histogram[k];
    }
  for (int k = 0; k < 16; ++k) EXPECT_GT(histogram[k], 3000) << k;  // 4000 expected each
}

TEST(BuildLabPairs, NoDitherGivesEqualHalvesForEveryUnselectedValue) {
  for (int dither : {0, -1}) {
    DitherFixture f(dither);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x) {
        float* w = f.s.work.working(y, x);
        w[0] = float(x) / 320;
        w[1] = float(y) / 200;
        w[2] = 0.5f;
      }
    Random random(1);
    buildLabPairs(f.s, random);
    for (int y = 0; y < 200; y += 7)
      for (int x = 0; x < 320; x += 5) {
        const float* p = f.s.labPairs.at(y, x);
        for (int c = 0; c < 3; ++c) ASSERT_EQ(p[c], p[c + 3]);
      }
  }
}

TEST(BuildLabPairs, FloydSteinbergSpreadsOnlyInsideThePicture) {
  // One off-palette pixel among exact palette colours. Its error cascades right and down
  // (a cone), but must never wrap to the other side of the picture or leave it.
  struct Case {
    int x, y;
    std::vector<std::pair<int, int>> untouched;  // where a wrapped neighbour index would land
    bool anyChange;
  } cases[] = {
      {319, 50, {{0, 51}, {0, 52}}, true},  // last column: nothing right or below-right
      {0, 50, {{319, 50}}, true},           // first column: nothing below-left
      {100, 199, {{101, 0}, {99, 0}}, true},  // last row: only to the right
      {319, 199, {}, false},                // bottom-right: nothing at all
  };
  for (const auto& c : cases) {
    DitherFixture f(1);
    const float* base = f.s.palette.display(12);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x)
        for (int k = 0; k < 3; ++k) f.s.work.working(y, x)[k] = base[k];
    float* w = f.s.work.working(c.y, c.x);
    w[0] = w[1] = w[2] = 0.3f;
    auto before = f.s.work.v;
    Random random(1);
    buildLabPairs(f.s, random);
    auto changed = [&](int x, int y) {
      for (int k = 0; k < 3; ++k)
        if (f.s.work.working(y, x)[k] != before[(size_t(y) * 320 + x) * 15 + k]) return true;
      return false;
    };
    int count = 0;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x) {
        if ((x == c.x && y == c.y) || !changed(x, y)) continue;
        ++count;
        bool inCone = (y == c.y && x > c.x) || (y > c.y && x >= c.x - (y - c.y));
        EXPECT_TRUE(inCone) << "from " << c.x << "," << c.y << " to " << x << "," << y;
      }
    for (auto [x, y] : c.untouched) EXPECT_FALSE(changed(x, y)) << "from " << c.x << "," << c.y;
    EXPECT_EQ(count > 0, c.anyChange) << c.x << "," << c.y;
  }
}

TEST(BuildLabPairs, FloydSteinbergPassesTheUnclampedErrorWithExactFractions) {
  DitherFixture f(1);
  // Exact palette colours elsewhere carry no error, so the neighbours see only this pixel's.
  const float* base = f.s.palette.display(12);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x)
      for (int k = 0; k < 3; ++k) f.s.work.working(y, x)[k] = base[k];
  float* w = f.s.work.working(10, 10);
  w[0] = 1.6f;  // above 1: clamped for the search, passed on whole
  w[1] = w[2] = 0.9f;
  Random random(1);
  buildLabPairs(f.s, random);

  auto lab = linearToLab(1.0f, 0.9f, 0.9f);
  int p = 0;
  float best = 1e15f;
  for (int j = kFirstEntry; j <= kLastEntry; ++j) {
    float d = labDistanceSquared(lab.data(), f.s.palette.lab[j]);
    if (d < best) best = d, p = j;
  }
  const float* mixed = f.s.labPairs.mixed(10, 10);
  EXPECT_EQ(f.s.labPairs.dithered(10, 10)[0], float(0.5 * f.s.palette.lab[p][0] + 0.5 * mixed[0]));
  float e0 = float(1.6f - double(f.s.palette.display(p)[0]));
  EXPECT_GT(e0, 0.5f);  // the unclamped colour's error, not the clamped one's
  EXPECT_EQ(f.s.work.working(10, 11)[0], float(base[0] + double(e0) * 7 / 16));
  EXPECT_EQ(f.s.work.working(11, 9)[0], float(base[0] + double(e0) * 3 / 16));
}

}  // namespace
}  // namespace tavrix
