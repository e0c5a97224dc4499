#include "convert/converter.h"

#include <algorithm>
#include <stdexcept>

#include "enhance/color_range.h"
#include "enhance/hdr.h"
#include "enhance/oversaturate.h"
#include "enhance/sharpen.h"
#include "plus4/prg_image.h"
#include "plus4/raster_routine.h"
#include "reduce/align_grid.h"
#include "reduce/cell_pairs.h"
#include "reduce/dither.h"
#include "reduce/mix_candidates.h"

namespace tavrix {

namespace {
constexpr int kXsDfli = 3;
}

void Converter::run(const Picture& source, ConversionOutput& out) {
  // Every stage after the grid alignment depends on a 320x200 picture.
  const bool wide = source.width == 327 && source.height == 207;
  if (!(source.width == 320 && source.height == 200) && !wide)
    throw std::invalid_argument("the source picture must be 320x200 or 327x207, not " +
                                std::to_string(source.width) + "x" + std::to_string(source.height));
  host_.showStatus("Converting to color profile.", Pump::Yes);
  host_.setButtonsEnabled(false);

  // The state lives until the end of this call, also when a stage throws.
  ConversionState state;
  ConversionState& s = state;
  s.settings = host_.readSettings();
  s.kernels = kernels_;
  s.prg = &out.prgImage;
  assemblePrgImage(out.prgImage, s.settings.outputMode);
  s.rowGroupShift = rowGroupShift(s.settings.outputMode);

  if (out.resultImage) {
    out.resultImage.reset();
    host_.repaint();
  }
  out.resultImage = source;
  s.result = &*out.resultImage;
  host_.repaint();

  const int w = s.width(), h = s.height();
  s.candidates.allocate(w, h);
  s.sourceBytes.allocate(w, h);
  s.work.allocate(w, h);
  s.labPairs.allocate(w, h);
  // The fast kernels read no ErrorTable slot before writing it: clearing its 65 MB would be
  // a wasted pass (the plain kernels keep the table exactly as allocated, zero-filled).
  if (s.kernels == Kernels::Fast)
    s.errors.allocateUncleared(w, h);
  else
    s.errors.allocate(w, h);
  buildPaletteTables(s.palette, s.settings.colormap == 1);

  for (int y = 0; y < h; ++y) {
    const uint32_t* row = s.result->row(y);
    for (int x = 0; x < w; ++x) {
      uint8_t* b = s.sourceBytes.at(y, x);
      b[0] = uint8_t(redOf(row[x]));
      b[1] = uint8_t(greenOf(row[x]));
      b[2] = uint8_t(blueOf(row[x]));
    }
  }

  stageDone("read pixels");
  if (s.settings.hdr > 0) expandHdr(s);
  stageDone("hdr");
  oversaturate(s);
  stageDone("oversaturate");
  sharpen(s);  // also the blend and target copy, which always run
  stageDone("sharpen");
  if (s.settings.colorRange > 0) stretchColorRange(s);
  stageDone("color range");
  mixCandidates(s);
  stageDone("mix candidates");
  if (s.width() == 327) alignCellGrid(s);  // from here on 320x200
  stageDone("align grid");
  host_.repaint();

  host_.showStatus("Generating conversion buffers.", Pump::Yes);
  buildLabPairs(s, random_);
  stageDone("lab pairs and dither");
  s.lineShift.assign(200, 0);

  const bool xs = s.settings.outputMode == kXsDfli;
  if (xs) {
    findNearestEntries(s);
    stageDone("nearest entries");
    searchLineShifts(s);
    stageDone("line shifts");
    smoothShiftedEdge(s);
    rotateShiftedRows(s);
    generateRasterRoutine(s);
    stageDone("edge, rotation, raster code");
  }

  host_.showStatus("calculating error table 1", Pump::No);
  buildErrorTable(s, 0);
  host_.showStatus("calculating error table 2", Pump::No);
  buildErrorTable(s, 1);
  stageDone("error tables");

  const int groups = s.height() >> s.rowGroupShift;
  for (int g = 0; g < groups; ++g) {
    const std::vector<CellPair> pairs = selectRowGroupPairs(s, g);
    for (int c = 0; c < s.width() / 8; ++c) encodeCell(s, g, c, pairs[size_t(c)]);
    if (xs) {
      fixLastCell(s, g);
      rotatePreviewRows(s, g);
    }
    host_.showStatus("Conversion progress: " + std::to_string(g + 1) + " / " + std::to_string(groups), Pump::Yes);
    if ((g << s.rowGroupShift) % 8 == 0) host_.repaint();
  }

  stageDone("cell pairs and encoding");
  finishPrgImage(out.prgImage, s.settings.outputMode);
  host_.setButtonsEnabled(true);
  state = ConversionState();  // release the buffers before "Ready"
  host_.showStatus("Ready", Pump::No);
  host_.repaint();
}

}  // namespace tavrix
