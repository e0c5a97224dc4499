#pragma once
// A hand-built ConversionState for running single stages on small pictures.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "convert/kernels.h"
#include "convert/palette.h"
#include "convert/picture.h"
#include "convert/state.h"

namespace tavrix::testing {

// Owns the picture whose size every stage reads, and the state that points at it.
struct StageFixture {
  Picture picture;
  ConversionState s;

  StageFixture(int w, int h, const ConversionSettings& settings, Kernels kernels) : picture(w, h) {
    s.settings = settings;
    s.kernels = kernels;
    s.result = &picture;
    s.sourceBytes.allocate(w, h);
    s.work.allocate(w, h);
    s.candidates.allocate(w, h);
    buildPaletteTables(s.palette, false);
  }
  StageFixture(const StageFixture&) = delete;
  StageFixture& operator=(const StageFixture&) = delete;

  int width() const { return picture.width; }
  int height() const { return picture.height; }

  void setBytes(int x, int y, int r, int g, int b) {
    uint8_t* p = s.sourceBytes.at(y, x);
    p[0] = uint8_t(r);
    p[1] = uint8_t(g);
    p[2] = uint8_t(b);
  }
  // The colour as oversaturation hands it on: slots 0-2, 3-5 and 6-8 alike.
  void setColour(int x, int y, float r, float g, float b) {
    float* p = s.work.at(y, x);
    for (int base : {0, 3, 6}) {
      p[base] = r;
      p[base + 1] = g;
      p[base + 2] = b;
    }
  }
};

// Stage tests run once with each kernel set; both must give the same results.
class BothKernels : public ::testing::TestWithParam<Kernels> {};
inline std::string kernelsName(const ::testing::TestParamInfo<Kernels>& info) {
  return info.param == Kernels::Plain ? "Plain" : "Fast";
}

// How many representable floats lie between a and b.
inline int64_t ulpDistance(float a, float b) {
  auto ordered = [](float f) {
    const int32_t i = std::bit_cast<int32_t>(f);
    return i < 0 ? -int64_t(i & 0x7fffffff) : int64_t(i);
  };
  return std::llabs(ordered(a) - ordered(b));
}

}  // namespace tavrix::testing
