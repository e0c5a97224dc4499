// Inputs with which the fuzzers (fuzz/) found faults, each fed the same way again (pictures:
// load from memory, prescale, convert; settings: the file the window reads at start-up) and
// held to the outcome it must have.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSettings>
#include <QTemporaryDir>

#include <string>

#include <zlib.h>

#include "app/io/image_io.h"
#include "app/main_window.h"
#include "app/settings_store.h"
#include "convert/state.h"
#include "tests/test_support.h"

namespace tavrix {
namespace {

constexpr uint32_t kDark = 0x3C3C3C, kLight = 0xC8C8C8;

// A file of w x h grey pixels, 60 in the first half of its long side and 200 in the rest, in
// `format` as Qt writes it (the PPM reader stops at 32767 pixels a side; TIFF and BMP do not).
std::string halvedGreyFile(int w, int h, const char* format) {
  QImage image(w, h, QImage::Format_Grayscale8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.scanLine(y)[x] = (w > h ? x < w / 2 : y < h / 2) ? 60 : 200;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) ADD_FAILURE() << "Qt cannot write " << format << ": " << writer.errorString().toStdString();
  return bytes.toStdString();
}

Picture loadBytes(const std::string& file, const std::string& name) {
  return loadPictureFromMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size(), name);
}

// Found as a TIFF of 1x2,000,000: a crop of a picture this thin draws it 2.6e9 canvas pixels
// high, which the drawing rectangle's ints could not hold, and prescale refused the picture.
// A crop must show its middle, like any other picture's.
TEST(FuzzRegression, ExtremelyThinPicturesAreCroppedToTheirMiddle) {
  struct Case {
    const char* format;
    int w, h, crop;
    bool tall;
    int firstLight;  // the first output row (tall) or column (wide) of the light half
  };
  const Case kCases[] = {
      {"tiff", 1, 2000000, 0, true, 100},   // canvas rows 0-399 show source rows below 1,000,000
      {"bmp", 3000000, 1, 0, false, 160},   // canvas columns 0-639 show source columns below 1,500,000
      {"tiff", 1, 2000000, -1, true, 100},  // no item selected: "320x200 crop"
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " choice " + std::to_string(c.crop));
    const Picture loaded = loadBytes(halvedGreyFile(c.w, c.h, c.format), std::string("thin.") + c.format);
    ASSERT_EQ(loaded.width, c.w);
    ASSERT_EQ(loaded.height, c.h);
    const Picture source = prescale(loaded, c.crop);
    ASSERT_EQ(source.width, 320);
    ASSERT_EQ(source.height, 200);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 320; ++x) {
        const uint32_t expected = (c.tall ? y : x) < c.firstLight ? kDark : kLight;
        ASSERT_EQ(source.at(x, y), expected) << "at " << x << "," << y;
      }

    SelectorIndices selectors;
    selectors.crop = c.crop;
    const ConversionOutput out = testing::convertPicture(source, conversionSettings(selectors));
    ASSERT_TRUE(out.resultImage.has_value());
    EXPECT_EQ(out.resultImage->width, 320);
    EXPECT_EQ(out.resultImage->height, 200);
    EXPECT_EQ(out.prgImage.length, prgLengthFor(selectors.outputMode));
  }
}

std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A PNG of nothing but its header (8-bit RGB) and IEND, with correct CRCs.
std::string pngHeaderOnly(uint32_t width, uint32_t height) {
  auto chunk = [](const std::string& typeAndData) {
    const auto crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), uInt(typeAndData.size())));
    return be32(uint32_t(typeAndData.size() - 4)) + typeAndData + be32(crc);
  };
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR" + be32(width) + be32(height) + std::string("\x08\x02\0\0\0", 5)) +
         chunk("IEND");
}

// Found by the picture fuzzer: a PNG header declaring 3416535504x3990789198 pixels made the size
// check multiply past the largest long long (undefined behaviour; in practice a negative number
// of pixels, which passed). Such a picture must be refused as too large before decoding.
TEST(FuzzRegression, DeclaredSizesWhoseProductOverflowsAreTooLarge) {
  struct Case {
    uint32_t w, h;
  };
  const Case kCases[] = {{3416535504u, 3990789198u}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
  for (const Case& c : kCases) {
    const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
    try {
      loadBytes(pngHeaderOnly(c.w, c.h), "huge.png");
      ADD_FAILURE() << size << " loaded";
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find("huge.png: too large: " + size), std::string::npos) << e.what();
    }
  }
}

// Found by the settings fuzzer: a stored "Left" of 2147483647 and then the widest "Width" put
// the hidden window's right edge past the largest int, where QRect wrapped it round to the
// far left (undefined behaviour in its arithmetic). The window must stay a proper rectangle.
TEST(FuzzRegression, FarOutStoredPositionsKeepTheWindowWhole) {
  const char* const kFiles[] = {
      // the file it failed on
      "[General]\nTop=-2147483648\nLeft=2147483647\nWidth=2147483647\nHeight=-2147483648\nCrop=2147483647\n"
      "Sharpen=-2147483648\nOversaturate=99\nHDR=-99\nColorRange=1\nColormap=1\nDither=1\nOutputMode=1\n",
      "[General]\nTop=2147483647\nLeft=-2147483648\nWidth=2147483647\nHeight=2147483647\n",
      "[General]\nTop=5\nLeft=2147483000\nWidth=700\nHeight=600\n",  // an ordinary size
  };
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "tavrix-tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    const QString path = openSettingsStore()->fileName();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();

    const MainWindow w;  // reads the file
    for (const QRect& g : {w.geometry(), w.frameGeometry()}) {
      EXPECT_GE(g.right(), g.left());
      EXPECT_GE(g.bottom(), g.top());
    }
    EXPECT_GE(w.width(), 640);
    EXPECT_GE(w.height(), 488);
  }
}

}  // namespace
}  // namespace tavrix
