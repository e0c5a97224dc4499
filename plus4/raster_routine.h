#pragma once
// XS-DFLI: a horizontal shift per raster line, the rows stored rotated by it, and the
// generated viewer routine that sets the TED's scroll on every line pair.
#include "convert/state.h"

namespace tavrix {

constexpr int kRasterRoutineLength = 2761;  // $2000-$2AC8

void findNearestEntries(ConversionState& s);  // NearestEntry into SourceBytes slot 0
void searchLineShifts(ConversionState& s);
void findNearestEntriesFast(ConversionState& s);
void searchLineShiftsFast(ConversionState& s);
void smoothShiftedEdge(ConversionState& s);
void rotateShiftedRows(ConversionState& s);
void generateRasterRoutine(ConversionState& s);

// The end of row group g, after its 40 cells are encoded.
void fixLastCell(ConversionState& s, int group);
void rotatePreviewRows(ConversionState& s, int group);

}  // namespace tavrix
