#pragma once
// The option bytes in front of every convert_fuzzer input: one byte per selector, then the
// random dither's seed. Shared by the fuzzer and the seed corpus maker, so both agree.
#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/state.h"

namespace tavrix::fuzz {

// Items of each selector, in the order of the option bytes: crop, sharpen, oversaturate,
// hdr, colorRange, colormap, dither, outputMode.
inline constexpr std::array<int, 8> kSelectorItems = {4, 3, 5, 3, 3, 2, 4, 4};
inline constexpr size_t kOptionBytes = kSelectorItems.size() + 2;

struct FuzzOptions {
  SelectorIndices selectors;
  uint64_t seed = 0;
};

// Byte b selects b % (items + 1) - 1: every item and -1 (no item selected).
inline FuzzOptions decodeOptions(const uint8_t* bytes) {
  std::array<int, 8> index{};
  for (size_t i = 0; i < index.size(); ++i) index[i] = bytes[i] % (kSelectorItems[i] + 1) - 1;
  FuzzOptions o;
  o.selectors.crop = index[0];
  o.selectors.sharpen = index[1];
  o.selectors.oversaturate = index[2];
  o.selectors.hdr = index[3];
  o.selectors.colorRange = index[4];
  o.selectors.colormap = index[5];
  o.selectors.dither = index[6];
  o.selectors.outputMode = index[7];
  o.seed = uint64_t(bytes[8]) | uint64_t(bytes[9]) << 8;
  return o;
}

inline std::array<uint8_t, kOptionBytes> encodeOptions(const SelectorIndices& s, uint16_t seed) {
  const std::array<int, 8> index = {s.crop,       s.sharpen,  s.oversaturate, s.hdr,
                                    s.colorRange, s.colormap, s.dither,       s.outputMode};
  std::array<uint8_t, kOptionBytes> bytes{};
  for (size_t i = 0; i < index.size(); ++i) bytes[i] = uint8_t(index[i] + 1);
  bytes[8] = uint8_t(seed);
  bytes[9] = uint8_t(seed >> 8);
  return bytes;
}

}  // namespace tavrix::fuzz
