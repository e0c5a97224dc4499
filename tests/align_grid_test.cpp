#include "reduce/align_grid.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/stage_fixture.h"

namespace tavrix {
namespace {

using testing::StageFixture;

class AlignCellGrid : public testing::BothKernels {};

constexpr int kWide = 327, kTall = 207;

// Three entries with clearly different displayed colours.
constexpr int kEntries[3] = {42, 100, 61};

using EntryAt = std::function<int(int x, int y)>;

// The mixed colour of every pixel is the displayed colour of entryAt(x, y), so that entry
// is its nearest one.
void fillMixedColours(StageFixture& f, const EntryAt& entryAt) {
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) {
      const float* d = f.s.palette.display(entryAt(x, y));
      float* p = f.s.work.working(y, x);
      for (int c = 0; c < 3; ++c) p[c] = d[c];
    }
}

TEST_P(AlignCellGrid, NearestEntryByLabDistanceFromTheMixedColour) {
  StageFixture f(kWide, kTall, {}, GetParam());
  std::vector<std::pair<std::array<float, 3>, int>> cases;
  // Every usable entry's own displayed colour finds that entry.
  for (int j = kFirstEntry; j <= kLastEntry; ++j) {
    const float* d = f.s.palette.display(j);
    cases.push_back({{d[0], d[1], d[2]}, j});
  }
  // Here the nearest by Lab (20, 48) is not the nearest by RGB (21, 104).
  cases.push_back({{0.5f, 0.1f, 0.1f}, 20});
  cases.push_back({{0.0f, 0.0f, 0.1f}, 48});
  // Black matches entries 0..7 alike; the search starts at 7.
  cases.push_back({{0.0f, 0.0f, 0.0f}, 7});
  ASSERT_LE(cases.size(), size_t(kWide));

  for (size_t i = 0; i < cases.size(); ++i) {
    float* p = f.s.work.at(0, int(i));
    for (int c = 0; c < 3; ++c) {
      p[c] = cases[i].first[c];
      p[3 + c] = 1.0f;  // the target colour must not be what is matched
    }
    uint8_t* list = f.s.candidates.at(0, int(i));
    for (int k = 0; k < 16; ++k) list[k] = uint8_t(90 + k);
  }
  storeNearestEntries(f.s);
  for (size_t i = 0; i < cases.size(); ++i) {
    const uint8_t* list = f.s.candidates.at(0, int(i));
    EXPECT_EQ(list[0], cases[i].second) << "case " << i;
    for (int k = 1; k < 16; ++k) EXPECT_EQ(list[k], 90 + k) << "case " << i << " slot " << k;
  }
}

TEST_P(AlignCellGrid, OffsetWithFewestColoursPerCell) {
  struct Case {
    const char* name;
    EntryAt entryAt;
    int dx, dy;
  };
  const Case cases[] = {
      // Every offset counts one entry per cell: the first offset stays.
      {"uniform", [](int, int) { return kEntries[0]; }, 0, 0},
      // Stripes 8 wide beginning at columns 3, 11, 19, ...
      {"vertical stripes", [](int x, int) { return kEntries[((x + 5) / 8) % 3]; }, 3, 0},
      // Bands 8 tall beginning at rows 6, 14, 22, ...
      {"horizontal bands", [](int, int y) { return kEntries[((y + 2) / 8) % 3]; }, 0, 6},
      // 8x8 blocks beginning at (3, 5).
      {"blocks", [](int x, int y) { return kEntries[((x + 5) / 8 + (y + 3) / 8) % 3]; }, 3, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StageFixture f(kWide, kTall, {}, GetParam());
    fillMixedColours(f, c.entryAt);
    storeNearestEntries(f.s);
    const GridOffset o = searchGridOffset(f.s);
    EXPECT_EQ(o.dx, c.dx);
    EXPECT_EQ(o.dy, c.dy);
  }
}

TEST_P(AlignCellGrid, TiesGoToTheSmallerDyThenDx) {
  // One entry everywhere except a few single pixels of another near the edges; each adds
  // one colour to a cell at the offsets whose window contains it. Together they leave
  // exactly (5, 2) and (1, 6) without any: the smaller dy wins although its dx is larger.
  // An extra pixel seen only at dx >= 5, dy <= 2 leaves (1, 6) alone at the minimum,
  // which shows that the two really tie.
  const std::vector<std::pair<int, int>> base = {
      {325, 100},  // dx >= 6
      {0, 100},    // dx == 0
      {150, 206},  // dy == 7
      {150, 1},    // dy <= 1
      {321, 202},  // dx >= 2 and dy >= 3
      {4, 5},      // dx <= 4 and dy <= 5
  };
  struct Case {
    std::vector<std::pair<int, int>> pixels;
    int dx, dy;
  };
  std::vector<std::pair<int, int>> withExtra = base;
  withExtra.push_back({324, 2});
  const Case cases[] = {{base, 5, 2}, {withExtra, 1, 6}};
  for (const auto& c : cases) {
    StageFixture f(kWide, kTall, {}, GetParam());
    for (int y = 0; y < kTall; ++y)
      for (int x = 0; x < kWide; ++x) f.s.candidates.at(y, x)[0] = uint8_t(kEntries[0]);
    for (auto [x, y] : c.pixels) f.s.candidates.at(y, x)[0] = uint8_t(kEntries[1]);
    const GridOffset o = searchGridOffset(f.s);
    EXPECT_EQ(o.dx, c.dx) << c.pixels.size() << " pixels";
    EXPECT_EQ(o.dy, c.dy) << c.pixels.size() << " pixels";
  }
}

TEST_P(AlignCellGrid, UniformPictureKeepsTheTopLeftWindow) {
  StageFixture f(kWide, kTall, {}, GetParam());
  fillMixedColours(f, [](int, int) { return kEntries[1]; });
  for (int y = 0; y < kTall; ++y)
    for (int x = 0; x < kWide; ++x) f.picture.at(x, y) = rgbWord(x & 255, y, x >> 8);
  alignCellGrid(f.s);
  ASSERT_EQ(f.picture.width, 320);
  ASSERT_EQ(f.picture.height, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) ASSERT_EQ(f.picture.at(x, y), rgbWord(x & 255, y, x >> 8)) << x << ", " << y;
}

TEST_P(AlignCellGrid, CutMovesEverySlotOfTheWindow) {
  // Blocks beginning at (3, 5) select that offset; every slot of every pixel carries its
  // own value, so a slot left behind or moved from the wrong pixel shows.
  const int dx = 3, dy = 5;
  auto entryAt = [](int x, int y) { return kEntries[((x + 5) / 8 + (y + 3) / 8) % 3]; };
  StageFixture f(kWide, kTall, {}, GetParam());
  for (int y = 0; y < kTall; ++y)
    for (int x = 0; x < kWide; ++x) {
      const float* d = f.s.palette.display(entryAt(x, y));
      float* p = f.s.work.at(y, x);
      // A tiny per-pixel offset that leaves the nearest entry as it is.
      for (int c = 0; c < 3; ++c) p[c] = d[c] + 1e-6f * float(x % 8 + 8 * (y % 8));
      for (int i = 3; i < 15; ++i) p[i] = float(i * 100000 + y * 1000 + x);
      uint8_t* list = f.s.candidates.at(y, x);
      list[0] = 0;
      for (int k = 1; k < 16; ++k) list[k] = uint8_t(x * 7 + y * 13 + k);
      f.picture.at(x, y) = rgbWord(x & 255, y, x >> 8);
    }
  const WorkPixels work = f.s.work;
  const CandidateList lists = f.s.candidates;
  const Picture preview = f.picture;

  alignCellGrid(f.s);

  ASSERT_EQ(f.picture.width, 320);
  ASSERT_EQ(f.picture.height, 200);
  EXPECT_EQ(f.s.work.width, kWide);
  EXPECT_EQ(f.s.candidates.height, kTall);
  int bad = 0;
  for (int y = 0; y < 200 && bad < 5; ++y)
    for (int x = 0; x < 320 && bad < 5; ++x) {
      const std::string where = std::to_string(x) + ", " + std::to_string(y);
      const int sx = x + dx, sy = y + dy;
      if (f.picture.at(x, y) != preview.at(sx, sy)) {
        ++bad;
        ADD_FAILURE() << "preview at " << where;
      }
      for (int i = 0; i < 15; ++i)
        if (f.s.work.at(y, x)[i] != work.at(sy, sx)[i]) {
          ++bad;
          ADD_FAILURE() << "WorkPixel slot " << i << " at " << where;
        }
      if (f.s.candidates.at(y, x)[0] != entryAt(sx, sy)) {
        ++bad;
        ADD_FAILURE() << "CandidateList slot 0 at " << where << " is " << int(f.s.candidates.at(y, x)[0]);
      }
      for (int k = 1; k < 16; ++k)
        if (f.s.candidates.at(y, x)[k] != lists.at(sy, sx)[k]) {
          ++bad;
          ADD_FAILURE() << "CandidateList slot " << k << " at " << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, AlignCellGrid, ::testing::Values(Kernels::Plain, Kernels::Fast),
                         testing::kernelsName);

}  // namespace
}  // namespace tavrix
