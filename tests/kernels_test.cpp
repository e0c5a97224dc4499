// The fast kernels must give the plain kernels' bytes: stage by stage on random data, and
// whole conversions of random pictures and real photos in every mode and option.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "app/io/image_io.h"
#include "reduce/cell_pairs.h"
#include "reduce/dither.h"
#include "tests/test_support.h"

namespace tavrix {
namespace {

Picture randomPicture(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  Picture p(w, h);
  // Blocks of random colours with noise: flat areas, edges and texture, as photos have.
  std::vector<uint32_t> blocks(size_t((w / 12 + 1) * (h / 9 + 1)));
  for (auto& b : blocks) b = rng() & 0xFFFFFF;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t base = blocks[size_t((y / 9) * (w / 12 + 1) + x / 12)];
      int noise = int(rng() % 9) - 4;
      auto ch = [&](int v) { return std::clamp(v + noise * int(rng() % 3), 0, 255); };
      p.at(x, y) = rgbWord(ch(redOf(base)), ch(greenOf(base)), ch(blueOf(base)));
    }
  return p;
}

// A state holding random Lab colours, some exactly on palette entries (ties), for the
// error tables and the pair search.
struct LabFixture {
  Picture result{320, 200};
  PrgImage prg;
  ConversionState s;
  explicit LabFixture(unsigned seed, int outputMode) {
    s.result = &result;
    s.prg = &prg;
    s.settings.outputMode = outputMode;
    s.rowGroupShift = rowGroupShift(outputMode);
    s.labPairs.allocate(320, 200);
    s.errors.allocate(320, 200);
    buildPaletteTables(s.palette, false);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> L(0, 100), ab(-60, 60);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x) {
        float* p = s.labPairs.at(y, x);
        int kind = int(rng() % 4);
        for (int half = 0; half < 2; ++half) {
          if (kind == 0) {  // exactly a palette colour, shared by neighbours: ties of whole sums
            int j = 7 + int((x / 8 + y / 2 * 3) % 121);
            for (int c = 0; c < 3; ++c) p[3 * half + c] = s.palette.lab[j][c];
          } else {
            p[3 * half] = L(rng), p[3 * half + 1] = ab(rng), p[3 * half + 2] = ab(rng);
          }
        }
      }
  }
};

TEST(FastKernels, ErrorTableValuesMatchPlain) {
  // The fast kernels measure the second table inside the pair search and write only the
  // first-table entries that the search and the encoding read; every value they write must
  // be the plain one, and the pairs must be the same.
  for (unsigned seed : {1u, 2u}) {
    LabFixture plain(seed, 2), fast(seed, 2);
    plain.s.kernels = Kernels::Plain;
    fast.s.kernels = Kernels::Fast;
    for (int half = 0; half < 2; ++half) {
      buildErrorTable(plain.s, half);
      buildErrorTable(fast.s, half);
    }
    for (int g = 0; g < 100; ++g) {
      auto pairs = selectRowGroupPairs(fast.s, g);
      for (int c = 0; c < 40; c += 13) ASSERT_EQ(pairs[size_t(c)], selectRowGroupPairs(plain.s, g)[size_t(c)]);
    }
    int filled = 0;
    for (size_t i = 0; i < plain.s.errors.v.size(); ++i)
      if (fast.s.errors.v[i] != 0) {
        ASSERT_EQ(plain.s.errors.v[i], fast.s.errors.v[i]) << "pixel " << i / 256 << " slot " << i % 256;
        ++filled;
      }
    EXPECT_GT(filled, 64000 * 2);  // at least both entries of every chosen pair
  }
}

TEST(FastKernels, CellPairsMatchPlain) {
  for (int mode : {0, 1, 2}) {
    LabFixture f(10 + unsigned(mode), mode);
    f.s.kernels = Kernels::Plain;
    buildErrorTable(f.s, 0);
    buildErrorTable(f.s, 1);
    const int groups = 200 >> f.s.rowGroupShift;
    for (int g = 0; g < groups; g += 7) {
      f.s.kernels = Kernels::Plain;
      auto plain = selectRowGroupPairs(f.s, g);
      f.s.kernels = Kernels::Fast;
      auto fast = selectRowGroupPairs(f.s, g);
      for (size_t c = 0; c < plain.size(); ++c)
        ASSERT_EQ(plain[c], fast[c]) << "mode " << mode << " group " << g << " cell " << c;
    }
  }
}

TEST(FastKernels, FloydSteinbergOnTwoCoresMatchesScanOrder) {
  // The two-core wavefront must add every neighbour's error in the scan order's sequence;
  // a race or a wrong wait shows as a different byte somewhere, sooner or later.
  std::mt19937 rng(77);
  std::uniform_real_distribution<float> unit(-0.05f, 1.05f);
  auto run = [&](Kernels kernels, const std::vector<float>& colours) {
    auto f = std::make_unique<LabFixture>(1, 2);
    f->s.kernels = kernels;
    f->s.settings.dither = 1;
    f->s.work.allocate(320, 200);
    f->s.candidates.allocate(320, 200);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x)
        for (int c = 0; c < 3; ++c) f->s.work.working(y, x)[c] = colours[(size_t(y) * 320 + x) * 3 + c];
    Random random(1);
    buildLabPairs(f->s, random);
    return f;
  };
  for (int round = 0; round < 6; ++round) {
    std::vector<float> colours(320 * 200 * 3);
    for (float& c : colours) c = unit(rng);
    auto plain = run(Kernels::Plain, colours), fast = run(Kernels::Fast, colours);
    ASSERT_TRUE(plain->s.labPairs.v == fast->s.labPairs.v) << "round " << round;
    ASSERT_TRUE(plain->s.work.v == fast->s.work.v) << "round " << round;
  }
}

struct WholeCase {
  const char* name;
  int crop;
  ConversionSettings settings;
};

ConversionSettings with(int mode, int dither, int oversat = 0, int sharpen = 0, int range = 0, int hdr = 0,
                        int colormap = 0) {
  ConversionSettings s;
  s.outputMode = mode;
  s.dither = dither;
  s.oversaturatePercent = 100 + 25 * oversat;
  s.sharpen = sharpen;
  s.colorRange = range;
  s.hdr = hdr;
  s.colormap = colormap;
  return s;
}

void expectSameBytes(const Picture& source, const ConversionSettings& settings, const std::string& what) {
  auto run = [&](Kernels k) {
    testing::RecordingHost host;
    host.settings = settings;
    ConversionOutput out;
    Random random(5);
    Converter(host, random, k).run(source, out);
    return out;
  };
  ConversionOutput plain = run(Kernels::Plain), fast = run(Kernels::Fast);
  EXPECT_EQ(plain.prgImage.length, fast.prgImage.length) << what;
  EXPECT_TRUE(plain.prgImage.bytes == fast.prgImage.bytes) << what;
  EXPECT_TRUE(encodePng(*plain.resultImage) == encodePng(*fast.resultImage)) << what;
}

TEST(FastKernels, WholeConversionsMatchPlain) {
  const Picture photo = loadPicture(TAVRIX_TEST_DATA "/chelsea.png");
  const Picture rocket = loadPicture(TAVRIX_TEST_DATA "/rocket.jpg");
  const WholeCase cases[] = {
      {"normal, photo", 0, with(0, 0)},
      {"qfli, pattern, relative", 1, with(1, 2, 0, 0, 0, 0, 1)},
      {"dfli, floyd-steinberg, low options", 3, with(2, 1, 1, 1, 1, 1)},
      {"xs-dfli, random, every option highest", 2, with(3, 3, 4, 2, 2, 2)},
      {"xs-dfli, floyd-steinberg, mid options, relative", 0, with(3, 1, 2, 2, 1, 1, 1)},
      {"normal, nothing selected", 1, with(-1, -1, -1, -1, -1, -1, -1)},
  };
  for (const auto& c : cases) expectSameBytes(prescale(photo, c.crop), c.settings, std::string("chelsea: ") + c.name);
  expectSameBytes(prescale(rocket, 2), with(3, 1, 4, 2, 2, 2), "rocket: xs-dfli, everything");
  for (unsigned seed : {3u, 4u}) {
    expectSameBytes(randomPicture(320, 200, seed), with(int(seed) % 4, 1, 3, 2, 2, 2), "random " + std::to_string(seed));
    expectSameBytes(randomPicture(327, 207, seed), with(3, 2, 4, 1, 1, 2), "random wide " + std::to_string(seed));
  }
}

}  // namespace
}  // namespace tavrix
