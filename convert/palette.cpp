#include "convert/palette.h"

#include <cmath>

#include "convert/picture.h"

namespace tavrix {

const std::array<uint32_t, 256> kTedPalette = {
    // MatchPalette: the more saturated rendering that "Relative colorimetric" aims at.
    0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100,
    0x212221, 0x2E2F2E, 0x3B3C3B, 0x4C4D4C, 0x6E6F6E, 0x888988, 0xB2B3B2, 0xEDEEED,
    0x6F0101, 0x9A0101, 0xC60101, 0xFF0000, 0xFF3131, 0xFF5656, 0xFF9292, 0xFFD7D7,
    0x013939, 0x014646, 0x015454, 0x016C6C, 0x019D9D, 0x01C2C2, 0x01FEFE, 0xB6FFFF,
    0x530153, 0x700170, 0x8F018F, 0xB901B9, 0xFF09FF, 0xFF36FF, 0xFF7DFF, 0xFFCBFF,
    0x014601, 0x015201, 0x016601, 0x018301, 0x01BD01, 0x01E901, 0x47FF47, 0xBCFFBC,
    0x0707FF, 0x1515FF, 0x2424FF, 0x3737FF, 0x5D5DFF, 0x7A7AFF, 0xA6A6FF, 0xE2E2FF,
    0x2E2E01, 0x3C3C01, 0x484801, 0x595901, 0x7D7D01, 0x9A9A01, 0xC9C901, 0xFFFF65,
    0x401F01, 0x532801, 0x683201, 0x843F01, 0xBF5A01, 0xEC6F01, 0xFF9F4A, 0xFFDFC3,
    0x3A2701, 0x493201, 0x5B3E01, 0x704C01, 0xA06C01, 0xC58501, 0xFFAD08, 0xFFE9BB,
    0x1D3701, 0x254601, 0x2D5601, 0x386A01, 0x4E9501, 0x60B801, 0x7DF001, 0xD4FFA6,
    0x600127, 0x850136, 0xAB0145, 0xDC0159, 0xFF237B, 0xFF4A93, 0xFF8AB9, 0xFFD2E4,
    0x013F25, 0x014D2D, 0x015B35, 0x017543, 0x01A961, 0x01D178, 0x23FFA1, 0xB8FFE1,
    0x012177, 0x012FA5, 0x013CD4, 0x084DFF, 0x376FFF, 0x5B89FF, 0x94B1FF, 0xDDE6FF,
    0x2801BB, 0x3802FF, 0x4412FF, 0x5527FF, 0x7550FF, 0x8E6FFF, 0xB39FFF, 0xE4DEFF,
    0x143A01, 0x194A01, 0x1E5C01, 0x257201, 0x34A201, 0x40C801, 0x5BFF0E, 0xC7FFAD,
    // DisplayPalette: the colours as a Plus/4 shows them.
    0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100,
    0x212221, 0x2E2F2E, 0x3B3C3B, 0x4C4D4C, 0x6E6F6E, 0x888988, 0xB2B3B2, 0xEDEEED,
    0x59090B, 0x661618, 0x732325, 0x843436, 0xA65658, 0xC07072, 0xEA9A9C, 0xFFD5D7,
    0x003A37, 0x004744, 0x035451, 0x146562, 0x368784, 0x50A19E, 0x7ACBC8, 0xB5FFFF,
    0x4F005E, 0x5C0B6B, 0x691878, 0x7A2989, 0x9C4BAB, 0xB665C5, 0xE08FEF, 0xFFCAFF,
    0x004500, 0x005200, 0x095F0A, 0x1A701B, 0x3C923D, 0x56AC57, 0x80D681, 0xBBFFBC,
    0x141584, 0x212291, 0x2E2F9E, 0x3F40AF, 0x6162D1, 0x7B7CEB, 0xA5A6FF, 0xE0E1FF,
    0x2E2E00, 0x3B3B00, 0x484800, 0x595900, 0x7B7B0B, 0x959525, 0xBFBF4F, 0xFAFA8A,
    0x4D1700, 0x5A2400, 0x673100, 0x78420B, 0x9A642D, 0xB47E47, 0xDEA871, 0xFFE3AC,
    0x402300, 0x4D3000, 0x5A3D00, 0x6B4E00, 0x8D7017, 0xA78A31, 0xD1B45B, 0xFFEF96,
    0x123C00, 0x1F4900, 0x2C5600, 0x3D6700, 0x5F890B, 0x79A325, 0xA3CD4F, 0xDEFF8A,
    0x5A022D, 0x670F3A, 0x741C47, 0x852D58, 0xA74F7A, 0xC16994, 0xEB93BE, 0xFFCEF9,
    0x004019, 0x004D26, 0x025A33, 0x136B44, 0x358D66, 0x4FA780, 0x79D1AA, 0xB4FFE5,
    0x002372, 0x0C307F, 0x193D8C, 0x2A4E9D, 0x4C70BF, 0x668AD9, 0x90B4FF, 0xCBEFFF,
    0x210D88, 0x2E1A95, 0x3B27A2, 0x4C38B3, 0x6E5AD5, 0x8874EF, 0xB29EFF, 0xEDD9FF,
    0x024200, 0x0F4F00, 0x1C5C00, 0x2D6D00, 0x4F8F19, 0x69A933, 0x93D35D, 0xCEFF98,
};

float srgbToLinear(int byte) {
  float c = float(byte / 255.0);
  if (double(c) <= 0.04045) return float(c / 12.92);
  return float(std::pow((c + 0.055) / 1.055, 2.4));
}

int linearToSrgb(float c) {
  double x;
  if (double(c) < 0.0031308)
    x = c * 3294.6;
  else
    x = (1.055 * std::pow(double(c), 0.4166666666666667) - 0.055) * 255;
  // Clamp before the cast: a huge value must not overflow the integer conversion.
  if (!(x > 0)) return 0;
  if (x > 255) return 255;
  return int(std::nearbyint(x));  // the default rounding mode: halves to even
}

namespace {
float labF(float t) {
  if (double(t) > 0.008856) return float(std::pow(double(t), 0.3333333333333333));
  return float(7.787 * t + 16.0 / 116.0);
}
}  // namespace

std::array<float, 3> linearToLab(float r, float g, float b) {
  float x = float(0.43395 * r + 0.37621 * g + 0.18984 * b);
  float y = float(0.21267 * r + 0.71515 * g + 0.07218 * b);
  float z = float(0.01775 * r + 0.10947 * g + 0.87278 * b);
  float fx = labF(x), fy = labF(y), fz = labF(z);
  return {float(116 * double(fy) - 16), float(500 * (double(fx) - fy)), float(200 * (double(fy) - fz))};
}

namespace {
double sumOfSquares(const float* p, const float* q) {
  double d0 = double(p[0]) - q[0], d1 = double(p[1]) - q[1], d2 = double(p[2]) - q[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}
}  // namespace

float rgbDistanceSquared(const float* p, const float* q) { return float(sumOfSquares(p, q)); }
float labDistanceSquared(const float* p, const float* q) { return float(sumOfSquares(p, q)); }
float labDistance(const float* p, const float* q) { return float(std::pow(sumOfSquares(p, q), 0.5)); }

void buildPaletteTables(PaletteTables& tables, bool relative) {
  for (int j = 0; j < 128; ++j) {  // hue outer, luma inner: j = hue * 8 + luma
    uint32_t d = displayColor(j);
    float lin[3] = {srgbToLinear(redOf(d)), srgbToLinear(greenOf(d)), srgbToLinear(blueOf(d))};
    for (int c = 0; c < 3; ++c) tables.linear[j][c] = tables.linear[j][c + 3] = lin[c];
    auto lab = linearToLab(lin[0], lin[1], lin[2]);
    for (int c = 0; c < 3; ++c) tables.lab[j][c] = lab[c];
    if (relative) {
      uint32_t m = matchColor(j);
      tables.linear[j][3] = srgbToLinear(redOf(m));
      tables.linear[j][4] = srgbToLinear(greenOf(m));
      tables.linear[j][5] = srgbToLinear(blueOf(m));
    }
  }
}

}  // namespace tavrix
