#pragma once
// PrgImage: the load address $1000 followed by the Plus/4 memory $1000-$7FFF.
// The .prg file is its first `length` bytes.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrix {

constexpr int kPrgImageSize = 2 + 0x7000;  // 28,674

struct PrgImage {
  std::array<uint8_t, kPrgImageSize> bytes{};
  int length = 0;  // PrgLength: 0 until a conversion has finished

  // Plus/4 address A lives at byte A - $1000 + 2.
  uint8_t& at(int address) { return bytes[size_t(address - 0x1000 + 2)]; }
  uint8_t at(int address) const { return bytes[size_t(address - 0x1000 + 2)]; }
};

// ViewerTemplates: every fixed piece of BASIC and machine code that goes into PrgImage.
constexpr int kViewerTemplatesSize = 283;
extern const std::array<uint8_t, kViewerTemplatesSize> kViewerTemplates;

// Ranges of kViewerTemplates.
constexpr int kSysLineAt = 0, kSysLineLength = 18;
constexpr int kDfliViewerAt = 18, kDfliViewerLength = 112;
constexpr int kQfliViewerAt = 130, kQfliViewerLength = 82;
constexpr int kGraphicLineAt = 212, kGraphicLineLength = 14;
constexpr int kRasterPiecesAt = 226;

// PrgLength of a finished conversion in each output mode (any other value: the whole image).
int prgLengthFor(int outputMode);

void assemblePrgImage(PrgImage& prg, int outputMode);
void finishPrgImage(PrgImage& prg, int outputMode);

}  // namespace tavrix
