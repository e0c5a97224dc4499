// convert_fuzzer: option bytes (fuzz_input.h) followed by a picture file, taken the whole way
// the command line takes it: load from memory, prescale, convert with the fast kernels,
// encode the PNG. A FileError from loading is the one expected refusal; any other exception,
// a sanitizer report or a result of the wrong shape is a finding.
#include <QByteArray>
#include <QImage>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/io/image_io.h"
#include "convert/converter.h"
#include "convert/palette.h"
#include "convert/random.h"
#include "fuzz/fuzz_input.h"
#include "plus4/prg_image.h"

namespace {

using namespace tavrix;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "convert_fuzzer: %s\n", what);
  std::abort();
}

bool isDisplayColor(uint32_t c) {
  static const std::vector<uint32_t> colors = [] {
    std::vector<uint32_t> v;
    for (int j = kFirstEntry; j <= kLastEntry; ++j) v.push_back(displayColor(j));
    std::sort(v.begin(), v.end());
    return v;
  }();
  return std::binary_search(colors.begin(), colors.end(), c);
}

void checkResult(const ConversionOutput& out, const ConversionSettings& settings) {
  require(out.resultImage.has_value(), "no result picture");
  const Picture& result = *out.resultImage;
  require(result.width == 320 && result.height == 200, "the result is not 320x200");
  require(std::all_of(result.pixels.begin(), result.pixels.end(), isDisplayColor),
          "a result pixel is no palette colour");

  const int length = out.prgImage.length;
  constexpr std::array<int, 4> kLengths = {12098, 24554, 28650, kPrgImageSize};
  require(std::find(kLengths.begin(), kLengths.end(), length) != kLengths.end(), "not a .prg length");
  require(length == prgLengthFor(settings.outputMode), "the .prg length is not the output mode's");
  require(out.prgImage.bytes[0] == 0x00 && out.prgImage.bytes[1] == 0x10, "the .prg does not load at $1000");

  const std::vector<uint8_t> png = encodePng(result);
  QImage decoded = QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(png.data()),
                                                            qsizetype(png.size())),
                                    "PNG");
  require(decoded.width() == 320 && decoded.height() == 200, "the PNG does not decode to 320x200");
  decoded.convertTo(QImage::Format_RGB32);
  for (int y = 0; y < 200; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(decoded.constScanLine(y));
    for (int x = 0; x < 320; ++x)
      require((row[x] & 0x00FFFFFFu) == result.at(x, y), "the PNG's pixels differ from the result");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The image readers' warnings about damaged files would flood the fuzzer's output.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < fuzz::kOptionBytes) return -1;  // not even the option bytes: keep out of the corpus
  const fuzz::FuzzOptions options = fuzz::decodeOptions(data);

  Picture loaded;
  try {
    loaded = loadPictureFromMemory(data + fuzz::kOptionBytes, size - fuzz::kOptionBytes, "fuzz input");
  } catch (const FileError&) {
    return 0;
  }
  const Picture source = prescale(loaded, options.selectors.crop);
  require(source.width == targetWidth(options.selectors.crop) && source.height == targetHeight(options.selectors.crop),
          "prescale gave the wrong size");

  QuietHost host;
  host.settings = conversionSettings(options.selectors);
  Random random(options.seed);
  ConversionOutput out;
  Converter(host, random, Kernels::Fast).run(source, out);
  checkResult(out, host.settings);
  return 0;
}
