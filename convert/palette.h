#pragma once
// The TED palette and the colour arithmetic every stage shares.
// Every stored value is a float; each formula is evaluated in double and rounded once when stored.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrix {

// PaletteIndex = hue * 8 + luma. Every palette search scans 7..127: hue 0 is black at every
// luma, and entry 7 alone stands for it.
constexpr int kFirstEntry = 7;
constexpr int kLastEntry = 127;
inline int hueOf(int index) { return index >> 3; }
inline int lumaOf(int index) { return index & 7; }

// TedPalette: entries 0..127 are MatchPalette, 128..255 DisplayPalette, as $RRGGBB.
extern const std::array<uint32_t, 256> kTedPalette;
inline uint32_t matchColor(int index) { return kTedPalette[size_t(index)]; }
inline uint32_t displayColor(int index) { return kTedPalette[size_t(128 + index)]; }

float srgbToLinear(int byte);   // 0..255 -> linear 0..1
int linearToSrgb(float c);      // any real -> 0..255
std::array<float, 3> linearToLab(float r, float g, float b);

float rgbDistanceSquared(const float* p, const float* q);
float labDistanceSquared(const float* p, const float* q);
float labDistance(const float* p, const float* q);

// PaletteLinear [16][8][6] and PaletteLab [16][8][3], flattened by PaletteIndex.
struct PaletteTables {
  float linear[128][6];  // 0-2 displayed colour, 3-5 the colour matching aims at
  float lab[128][3];     // Lab of the displayed colour

  const float* display(int j) const { return linear[j]; }
  const float* match(int j) const { return linear[j] + 3; }
};

void buildPaletteTables(PaletteTables& tables, bool relative);

}  // namespace tavrix
