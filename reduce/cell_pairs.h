#pragma once
#include <vector>

#include "convert/lab_distances.h"
#include "convert/state.h"

namespace tavrix {

// The two palette entries of a cell: bitmap bit 1 shows `first`, bit 0 shows `second`.
struct CellPair {
  int first = 0, second = 0;
  bool operator==(const CellPair&) const = default;
};

// A cell's pixel window, rows r0..r1 and columns x0..x1 inclusive.
struct CellWindow {
  int r0, r1, x0, x1;
};

// One half of ErrorTable for every pixel: half 0 measures against LabPair 0-2 (slots
// 7..127), half 1 against LabPair 3-5 (slots 135..255). The fast kernels leave both to the
// pair search: it measures each cell's second table where it sums it, and fills the first
// one only where it and the encoding read it (the first only breaks ties and sets bits).
void buildErrorTable(ConversionState& s, int half);
void buildErrorTableFast(ConversionState& s, int half);

// The exhaustive pair search: least sum over the second table, ties broken by the
// first table, then by the order (first, second) ascending.
CellPair selectCellPair(const ConversionState& s, CellWindow window);
CellPair selectCellPairFast(ConversionState& s, CellWindow window, const PaletteLabSoA& lanes);

// The pairs of every cell of row group g, by the state's kernels (the fast ones search
// the cells on every core).
std::vector<CellPair> selectRowGroupPairs(ConversionState& s, int group);

// Writes the cell's colour and luminance bytes, bitmap bits and final preview pixels.
void encodeCell(ConversionState& s, int group, int cell, CellPair pair);

// Plus/4 addresses of the cell's bytes in the attribute layout of RowGroupShift.
int luminanceAddress(int rowGroupShift, int group, int cell);
int colourAddress(int rowGroupShift, int group, int cell);
int bitmapAddress(int x, int y);

}  // namespace tavrix
