#pragma once
// ConversionState: everything one conversion owns, with the slot meaning of every buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/kernels.h"
#include "convert/palette.h"
#include "convert/picture.h"
#include "convert/zeroed_allocator.h"
#include "plus4/prg_image.h"

namespace tavrix {

// The eight option selectors as item indices; -1 means no item is selected.
struct SelectorIndices {
  int crop = 0;          // 0 "320x200 crop", 1 "320x200 fit", 2 "327x207 crop", 3 "327x207 fit"
  int hdr = 0;
  int oversaturate = 0;
  int sharpen = 0;
  int colorRange = 0;
  int colormap = 0;
  int dither = 0;
  int outputMode = 3;    // XS-DFLI
};

// The seven values a conversion reads from the selectors, constant during it.
struct ConversionSettings {
  int outputMode = 3;            // 0 Normal, 1 QFLI, 2 DFLI, 3 XS-DFLI
  int sharpen = 0;               // 0 none, 1 low, 2 hi
  int dither = 0;                // 0 none, 1 Floyd-Steinberg, 2 pattern, 3 random
  int colormap = 0;              // only 1 selects relative matching
  int oversaturatePercent = 100; // 100 + 25 x index
  int colorRange = 0;            // 0 normal, 1 high, 2 maximum
  int hdr = 0;                   // 0 none, 1 low, 2 hi
};

ConversionSettings conversionSettings(const SelectorIndices& s);

// A row group of 1 << RowGroupShift rows shares one colour pair per 8-pixel cell.
int rowGroupShift(int outputMode);

// A flat, zero-filled per-pixel buffer indexed [y][x][slot] at its allocation size, which
// stays 327x207 after the grid alignment has cut the picture to its top-left 320x200.
template <typename T, int Slots>
struct PixelSlots {
  static constexpr int kSlots = Slots;
  int width = 0;
  int height = 0;
  std::vector<T, ZeroedAllocator<T>> v;

  void allocate(int w, int h) {
    width = w;
    height = h;
    v = std::vector<T, ZeroedAllocator<T>>();
    v = std::vector<T, ZeroedAllocator<T>>(size_t(w) * size_t(h) * Slots);  // all zero
  }
  // Like allocate, but a reused block keeps its old values: only for a buffer whose readers
  // read nothing they have not written in this conversion.
  void allocateUncleared(int w, int h) {
    SkipClearing skip;
    allocate(w, h);
  }
  void release() { v = std::vector<T, ZeroedAllocator<T>>(); }
  T* at(int y, int x) { return v.data() + (size_t(y) * size_t(width) + size_t(x)) * Slots; }
  const T* at(int y, int x) const { return v.data() + (size_t(y) * size_t(width) + size_t(x)) * Slots; }
};

// SourceBytes: 0-2 sRGB bytes of the source pixel (HDR rewrites them); 5-8 HDR scratch;
// in XS-DFLI slot 0 later holds the pixel's NearestEntry.
struct SourceBytes : PixelSlots<uint8_t, 9> {
  uint8_t& nearestEntry(int y, int x) { return at(y, x)[0]; }
};

// WorkPixel: 15 linear-light floats, never clamped.
struct WorkPixels : PixelSlots<float, 15> {
  float* working(int y, int x) { return at(y, x) + 0; }      // slots 0-2
  float* target(int y, int x) { return at(y, x) + 3; }       // slots 3-5
  float* unsharpened(int y, int x) { return at(y, x) + 6; }  // slots 6-8
  float* scratch(int y, int x) { return at(y, x) + 9; }      // slots 9-11
};

// CandidateList: the 16 PaletteIndex values of the pixel's mixing plan, by ascending lightness.
using CandidateList = PixelSlots<uint8_t, 16>;

// LabPair: 0-2 the dithered Lab colour (blended 50/50 with the mixed one), 3-5 the mixed colour's Lab.
struct LabPairs : PixelSlots<float, 6> {
  float* dithered(int y, int x) { return at(y, x) + 0; }
  float* mixed(int y, int x) { return at(y, x) + 3; }
};

// ErrorTable: slot j = distance of entry j to LabPair 0-2, slot 128 + j to LabPair 3-5.
using ErrorTable = PixelSlots<float, 256>;

struct ConversionState {
  ConversionSettings settings;
  int rowGroupShift = 3;
  Kernels kernels = Kernels::Plain;

  Picture* result = nullptr;  // ResultImage: its size is the picture size every stage reads
  PrgImage* prg = nullptr;

  SourceBytes sourceBytes;
  WorkPixels work;
  CandidateList candidates;
  LabPairs labPairs;
  ErrorTable errors;
  PaletteTables palette{};
  float rangeTargets[16][4] = {};  // RangeTargets
  float rangeSources[16][4] = {};  // RangeSources
  std::vector<int32_t> lineShift;  // LineShift: 200 entries once dithering is done
  // The fast pair search finds every cell's pair ahead of the encoding: first * 128 + second.
  std::vector<int32_t> pairsAhead;

  int width() const { return result->width; }
  int height() const { return result->height; }
};

}  // namespace tavrix
