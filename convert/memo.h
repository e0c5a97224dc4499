#pragma once
// Small direct-mapped memories of the colour functions for the fast kernels. Mixed colours
// are means of 16 palette colours and repeat across a picture, so their conversions often
// were done before; a memory is keyed by the exact bits of its input, so it returns exactly
// what the function would. One per thread: no locks, no sharing.
#include <array>
#include <bit>
#include <cstdint>

#include "convert/palette.h"

namespace tavrix {

class LabMemo {
 public:
  std::array<float, 3> operator()(float r, float g, float b) {
    const uint32_t kr = std::bit_cast<uint32_t>(r), kg = std::bit_cast<uint32_t>(g), kb = std::bit_cast<uint32_t>(b);
    Slot& s = slots_[(kr * 0x9E3779B1u ^ kg * 0x85EBCA77u ^ kb * 0xC2B2AE3Du) >> (32 - kBits)];
    if (!s.used || s.r != kr || s.g != kg || s.b != kb) s = {kr, kg, kb, true, linearToLab(r, g, b)};
    return s.lab;
  }

 private:
  static constexpr int kBits = 12;
  struct Slot {
    uint32_t r, g, b;
    bool used;
    std::array<float, 3> lab;
  };
  std::array<Slot, 1 << kBits> slots_{};
};

class SrgbMemo {
 public:
  int operator()(float c) {
    const uint32_t k = std::bit_cast<uint32_t>(c);
    Slot& s = slots_[(k * 0x9E3779B1u) >> (32 - kBits)];
    if (!s.used || s.key != k) s = {k, true, linearToSrgb(c)};
    return s.value;
  }

 private:
  static constexpr int kBits = 12;
  struct Slot {
    uint32_t key;
    bool used;
    int value;
  };
  std::array<Slot, 1 << kBits> slots_{};
};

}  // namespace tavrix
