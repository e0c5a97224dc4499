// make-fuzz-corpus OUT_DIR: writes the seed corpus of both fuzzers, made here and never
// downloaded. OUT_DIR/convert gets small pictures in every format the image readers know
// (written by Qt's writers, by libpng directly for the PNG variants Qt does not write, and
// by hand for GIF and TGA, which Qt only reads), then broken ones made from them; each file
// starts with option bytes (fuzz_input.h). OUT_DIR/settings gets settings files.
// Every seed meant to be valid must load, so a reader plugin that went missing shows here.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QSettings>
#include <QTemporaryDir>

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/io/image_io.h"
#include "fuzz/fuzz_input.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;
using tavrix::SelectorIndices;

// Seeds take turns through these option sets: defaults, nothing selected, every top item,
// and mixtures that reach every crop/fit choice, mode and dither.
const std::vector<SelectorIndices> kOptionSets = {
    {0, 0, 0, 0, 0, 0, 0, 3},    {-1, -1, -1, -1, -1, -1, -1, -1}, {3, 2, 4, 2, 2, 1, 3, 3},
    {1, 1, 2, 1, 1, 0, 1, 0},    {2, 0, 1, 0, 2, 1, 2, 1},         {3, 2, 3, 2, 0, 0, 3, 2},
    {-1, 0, 0, 1, 1, 1, 1, 3},   {1, 2, 4, 0, 2, 0, 0, -1},
};

struct Writer {
  fs::path dir;
  int count = 0;
  int failures = 0;

  // Valid seeds are checked by the loader; a broken one may load or not.
  void picture(const std::string& name, const Bytes& file, bool mustLoad) {
    if (mustLoad) {
      try {
        tavrix::loadPictureFromMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size(), name);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "make-fuzz-corpus: the valid seed %s does not load: %s\n", name.c_str(), e.what());
        ++failures;
      }
    }
    const auto options = tavrix::fuzz::encodeOptions(kOptionSets[size_t(count) % kOptionSets.size()],
                                                     uint16_t(count * 2654435761u));
    write(name, Bytes(options.begin(), options.end()) + file);
  }

  void write(const std::string& name, const Bytes& content) {
    std::ofstream(dir / name, std::ios::binary) << content;
    ++count;
  }
};

// ---- Pixels ----

// Smooth gradients with sharp blocks, like a small photo with edges.
uint32_t pixel(int x, int y, int w, int h) {
  const int r = w > 1 ? x * 255 / (w - 1) : 128, g = h > 1 ? y * 255 / (h - 1) : 64;
  const int b = ((x + y) * 7) & 255;
  return ((x / 13 + y / 9) % 5 == 0) ? uint32_t(b << 16 | g << 8 | r) : uint32_t(r << 16 | g << 8 | b);
}

QImage image(int w, int h, QImage::Format format = QImage::Format_RGB32) {
  QImage img(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t alpha = format == QImage::Format_ARGB32 ? uint32_t((x * 3 + y * 5) & 255) : 255u;
      img.setPixel(x, y, alpha << 24 | pixel(x, y, w, h));
    }
  if (format == QImage::Format_Indexed8) return img.convertToFormat(format, Qt::ThresholdDither);
  return img.convertToFormat(format);
}

Bytes qtFile(const QImage& img, const char* format, const std::function<void(QImageWriter&)>& setup = {}) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (setup) setup(writer);
  if (!writer.write(img)) {
    std::fprintf(stderr, "make-fuzz-corpus: Qt cannot write %s: %s\n", format, qPrintable(writer.errorString()));
    return {};
  }
  return bytes.toStdString();
}

// ---- Byte surgery ----

void put16be(Bytes& b, size_t at, unsigned v) {
  b[at] = char(v >> 8);
  b[at + 1] = char(v);
}
void put32be(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char(v >> (24 - 8 * i));
}
void put16le(Bytes& b, size_t at, unsigned v) {
  b[at] = char(v);
  b[at + 1] = char(v >> 8);
}
void put32le(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char(v >> (8 * i));
}
std::string le16(unsigned v) { return {char(v), char(v >> 8)}; }
std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

Bytes truncated(const Bytes& b, double fraction) { return b.substr(0, size_t(double(b.size()) * fraction)); }

Bytes garbage(size_t size, uint32_t seed) {
  Bytes b(size, '\0');
  for (char& c : b) {
    seed = seed * 1664525u + 1013904223u;
    c = char(seed >> 24);
  }
  return b;
}

// ---- PNG through libpng: every colour type and depth, interlaced or not ----

struct PngSpec {
  int width, height, colorType, bitDepth;
  bool interlaced = false;
  int paletteSize = 256;
  bool transparency = false;
};

Bytes pngFile(const PngSpec& s) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fprintf(stderr, "make-fuzz-corpus: libpng refused a %dx%d PNG\n", s.width, s.height);
    return {};
  }
  png_set_write_fn(
      png, &out, [](png_structp p, png_bytep data, size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
      },
      nullptr);
  png_set_IHDR(png, info, png_uint_32(s.width), png_uint_32(s.height), s.bitDepth, s.colorType,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (s.colorType == PNG_COLOR_TYPE_PALETTE) {
    std::vector<png_color> palette(size_t(s.paletteSize));
    for (size_t i = 0; i < palette.size(); ++i)
      palette[i] = {png_byte(i * 37), png_byte(i * 91), png_byte(255 - i * 13)};
    png_set_PLTE(png, info, palette.data(), s.paletteSize);
    if (s.transparency) {
      std::vector<png_byte> alpha(palette.size());
      for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = png_byte(i * 53);
      png_set_tRNS(png, info, alpha.data(), int(alpha.size()), nullptr);
    }
  }
  png_write_info(png, info);

  const int channels = s.colorType == PNG_COLOR_TYPE_GRAY ? 1
                       : s.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                       : s.colorType == PNG_COLOR_TYPE_RGB ? 3
                       : s.colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1;
  const int maxSample = s.colorType == PNG_COLOR_TYPE_PALETTE ? s.paletteSize - 1 : (1 << s.bitDepth) - 1;
  const size_t rowBytes = (size_t(s.width) * size_t(channels) * size_t(s.bitDepth) + 7) / 8;
  std::vector<std::vector<png_byte>> rows(size_t(s.height), std::vector<png_byte>(rowBytes, 0));
  for (int y = 0; y < s.height; ++y) {
    size_t bit = 0;
    for (int x = 0; x < s.width; ++x) {
      const uint32_t rgb = pixel(x, y, s.width, s.height);
      for (int c = 0; c < channels; ++c) {
        const uint32_t byte = c < 3 ? (rgb >> (16 - 8 * c) & 255) : uint32_t((x * 5 + y * 3) & 255);
        const uint32_t sample = (byte * uint32_t(maxSample) + 127) / 255;
        for (int k = s.bitDepth - 1; k >= 0; --k, ++bit)
          if (sample >> k & 1) rows[size_t(y)][bit / 8] |= png_byte(0x80 >> (bit % 8));
      }
    }
  }
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

uint32_t chunkCrc(const Bytes& b, size_t chunkAt, uint32_t length) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(b.data() + chunkAt + 4), length + 4));
}

// Byte offset of the first chunk of this type, or npos.
size_t findChunk(const Bytes& b, const char* type) {
  for (size_t at = 8; at + 8 <= b.size();) {
    const uint32_t length = uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
                            uint32_t(uint8_t(b[at + 2])) << 8 | uint8_t(b[at + 3]);
    if (b.compare(at + 4, 4, type) == 0) return at;
    at += 12 + size_t(length);
  }
  return Bytes::npos;
}

// IHDR fields changed and its CRC made right again, so only the field is wrong.
Bytes withIhdr(Bytes b, uint32_t width, uint32_t height, int bitDepth = -1) {
  put32be(b, 16, width);
  put32be(b, 20, height);
  if (bitDepth >= 0) b[24] = char(bitDepth);
  put32be(b, 29, chunkCrc(b, 8, 13));
  return b;
}

Bytes pngChunk(const char* type, const Bytes& data) {
  Bytes chunk = be32(uint32_t(data.size())) + type + data + "0000";
  put32be(chunk, chunk.size() - 4, chunkCrc(chunk, 0, uint32_t(data.size())));
  return chunk;
}

Bytes withChunkAfterIhdr(const Bytes& b, const Bytes& chunk) { return b.substr(0, 33) + chunk + b.substr(33); }

// ---- GIF by hand: LZW with a clear code before the table would widen the codes ----

Bytes gifLzw(const std::vector<uint8_t>& indices, int minCodeSize) {
  const unsigned clear = 1u << minCodeSize, end = clear + 1;
  const int codeSize = minCodeSize + 1;
  Bytes data;
  uint32_t acc = 0;
  int bits = 0;
  auto putCode = [&](unsigned code) {
    acc |= code << bits;
    bits += codeSize;
    while (bits >= 8) {
      data.push_back(char(acc & 255));
      acc >>= 8;
      bits -= 8;
    }
  };
  // After a clear, k literals add k - 1 entries; the codes stay codeSize wide while
  // clear + 1 + k < 2 * clear.
  const size_t perClear = std::max(1u, clear - 2);
  for (size_t i = 0; i < indices.size(); ++i) {
    if (i % perClear == 0) putCode(clear);
    putCode(indices[i]);
  }
  putCode(end);
  if (bits > 0) data.push_back(char(acc & 255));
  Bytes blocks(1, char(minCodeSize));
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    blocks += char(n) + data.substr(at, n);
  }
  return blocks + '\0';
}

struct GifFrame {
  int left = 0, top = 0, width, height;
  bool interlaced = false, localPalette = false;
  int transparentIndex = -1;
};

Bytes gifFile(int w, int h, int colorBits, const std::vector<GifFrame>& frames) {
  const int colors = 1 << colorBits;
  auto palette = [&](int shift) {
    Bytes p;
    for (int i = 0; i < colors; ++i)
      p += {char(i * 255 / (colors - 1)), char((i * 97 + shift) & 255), char(255 - i * 255 / (colors - 1))};
    return p;
  };
  Bytes b = "GIF89a" + le16(unsigned(w)) + le16(unsigned(h)) + char(0x80 | 0x70 | (colorBits - 1)) + '\0' + '\0';
  b += palette(0);
  if (frames.size() > 1) b += Bytes("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
  for (const GifFrame& f : frames) {
    if (f.transparentIndex >= 0)
      b += Bytes("\x21\xF9\x04\x01\x0A\x00", 6) + char(f.transparentIndex) + '\0';
    b += ',' + le16(unsigned(f.left)) + le16(unsigned(f.top)) + le16(unsigned(f.width)) + le16(unsigned(f.height));
    b += char((f.localPalette ? 0x80 | (colorBits - 1) : 0) | (f.interlaced ? 0x40 : 0));
    if (f.localPalette) b += palette(77);
    std::vector<uint8_t> indices;
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) indices.push_back(uint8_t(((x / 3) ^ (y / 2)) & (colors - 1)));
    b += gifLzw(indices, std::max(2, colorBits));
  }
  return b + ';';
}

// ---- TGA by hand: uncompressed and run-length truecolour ----

// With an empty ID field the file starts like a Windows cursor (0, 0, 2, 0), and detection by
// content takes it for one; an ID of four bytes tells them apart.
Bytes tgaFile(int w, int h, bool rle, const Bytes& id = "tvrx") {
  Bytes b = char(id.size()) + Bytes(1, '\0') + char(rle ? 10 : 2) + Bytes(9, '\0') + le16(unsigned(w)) +
            le16(unsigned(h)) + char(24) + char(0x20) + id;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w;) {
      const uint32_t p = pixel(x, y, w, h);
      const Bytes bgr = {char(p & 255), char(p >> 8 & 255), char(p >> 16 & 255)};
      if (!rle) {
        b += bgr;
        ++x;
        continue;
      }
      int run = 1;
      while (x + run < w && run < 128 && pixel(x + run, y, w, h) == p) ++run;
      b += char(0x80 | (run - 1)) + bgr;
      x += run;
    }
  // The TGA 2.0 footer, without which the reader refuses the file.
  return b + Bytes(8, '\0') + Bytes("TRUEVISION-XFILE.", 18);
}

// ---- The pictures ----

void pictures(Writer& out) {
  struct Size {
    const char* name;
    int w, h;
  };
  const Size kTiny{"1x1", 1, 1}, kSmall{"17x11", 17, 11}, kFull{"320x200", 320, 200}, kWide{"327x207", 327, 207};

  // PNG: every colour type and bit depth, tiny and full size, some interlaced.
  struct PngCase {
    const char* name;
    int colorType, bitDepth;
  };
  const PngCase kPngCases[] = {
      {"grey1", PNG_COLOR_TYPE_GRAY, 1},        {"grey2", PNG_COLOR_TYPE_GRAY, 2},
      {"grey4", PNG_COLOR_TYPE_GRAY, 4},        {"grey8", PNG_COLOR_TYPE_GRAY, 8},
      {"grey16", PNG_COLOR_TYPE_GRAY, 16},      {"greyalpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
      {"greyalpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {"rgb8", PNG_COLOR_TYPE_RGB, 8},
      {"rgb16", PNG_COLOR_TYPE_RGB, 16},        {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
      {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16}, {"palette1", PNG_COLOR_TYPE_PALETTE, 1},
      {"palette4", PNG_COLOR_TYPE_PALETTE, 4},  {"palette8", PNG_COLOR_TYPE_PALETTE, 8},
  };
  for (const PngCase& c : kPngCases)
    for (const Size& s : {kTiny, kSmall, kFull}) {
      PngSpec spec{s.w, s.h, c.colorType, c.bitDepth};
      if (c.colorType == PNG_COLOR_TYPE_PALETTE) spec.paletteSize = 1 << c.bitDepth;
      out.picture("png-" + std::string(c.name) + "-" + s.name + ".png", pngFile(spec), true);
    }
  for (const PngCase& c : {kPngCases[3], kPngCases[8], kPngCases[10], kPngCases[13]}) {
    PngSpec spec{kWide.w, kWide.h, c.colorType, c.bitDepth, true};
    out.picture("png-" + std::string(c.name) + "-interlaced-327x207.png", pngFile(spec), true);
    spec.width = kSmall.w;
    spec.height = kSmall.h;
    out.picture("png-" + std::string(c.name) + "-interlaced-17x11.png", pngFile(spec), true);
  }
  PngSpec transparentPalette{kSmall.w, kSmall.h, PNG_COLOR_TYPE_PALETTE, 8};
  transparentPalette.paletteSize = 200;
  transparentPalette.transparency = true;
  const Bytes paletteTrns = pngFile(transparentPalette);
  out.picture("png-palette8-trns-17x11.png", paletteTrns, true);
  // Extreme shapes: a column and a row.
  out.picture("png-grey8-1x3000.png", pngFile({1, 3000, PNG_COLOR_TYPE_GRAY, 8}), true);
  out.picture("png-rgb8-4000x1.png", pngFile({4000, 1, PNG_COLOR_TYPE_RGB, 8}), true);

  const Bytes png = pngFile({kSmall.w, kSmall.h, PNG_COLOR_TYPE_RGB, 8});
  const Bytes pngFull = pngFile({kFull.w, kFull.h, PNG_COLOR_TYPE_RGB, 8});
  // Ancillary chunks Qt interprets: gamma, an ICC profile that is no profile, text.
  out.picture("png-gama.png", withChunkAfterIhdr(png, pngChunk("gAMA", be32(45455))), true);
  out.picture("png-gama-zero.png", withChunkAfterIhdr(png, pngChunk("gAMA", be32(0))), false);
  {
    Bytes profile = garbage(200, 7);
    uLongf packedSize = compressBound(uLong(profile.size()));
    Bytes packed(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(profile.data()),
             uLong(profile.size()));
    packed.resize(packedSize);
    out.picture("png-iccp-garbage.png", withChunkAfterIhdr(png, pngChunk("iCCP", Bytes("icc\0\0", 5) + packed)),
                false);
  }
  out.picture("png-text.png", withChunkAfterIhdr(png, pngChunk("tEXt", Bytes("Title\0tavrix", 12))), true);
  out.picture("png-srgb-chrm.png",
              withChunkAfterIhdr(withChunkAfterIhdr(png, pngChunk("sRGB", Bytes(1, '\0'))),
                                 pngChunk("cHRM", garbage(32, 3))),
              false);

  // Broken PNGs: each differs from a valid file in one way.
  out.picture("broken-png-truncated-half.png", truncated(pngFull, 0.5), false);
  out.picture("broken-png-truncated-header.png", png.substr(0, 33), false);
  out.picture("broken-png-signature-only.png", png.substr(0, 8), false);
  {
    Bytes badCrc = png;
    badCrc[29] ^= 0x55;
    out.picture("broken-png-ihdr-crc.png", badCrc, false);
    Bytes idatCrc = png;
    const size_t idat = findChunk(png, "IDAT");
    idatCrc[idat + 8 + 4] ^= 0x01;  // a data byte: the CRC no longer matches
    out.picture("broken-png-idat-crc.png", idatCrc, false);
    Bytes corruptZlib = png;
    for (size_t i = idat + 10; i < idat + 20 && i < png.size(); ++i) corruptZlib[i] = char(0xFF);
    const uint32_t idatLength = uint32_t(uint8_t(png[idat])) << 24 | uint32_t(uint8_t(png[idat + 1])) << 16 |
                                uint32_t(uint8_t(png[idat + 2])) << 8 | uint8_t(png[idat + 3]);
    put32be(corruptZlib, idat + 8 + idatLength, chunkCrc(corruptZlib, idat, idatLength));
    out.picture("broken-png-zlib.png", corruptZlib, false);
    Bytes hugeLength = png;
    put32be(hugeLength, idat, 0xFFFFFFFFu);
    out.picture("broken-png-chunk-length.png", hugeLength, false);
    out.picture("broken-png-no-idat.png", png.substr(0, idat) + png.substr(png.size() - 12), false);
  }
  out.picture("broken-png-zero-width.png", withIhdr(png, 0, 11), false);
  out.picture("broken-png-zero-height.png", withIhdr(png, 17, 0), false);
  out.picture("broken-png-huge.png", withIhdr(png, 100000, 100000), false);
  out.picture("broken-png-over-limit.png", withIhdr(png, 0x7FFFFFFF, 0x7FFFFFFF), false);
  out.picture("broken-png-width-2g.png", withIhdr(png, 0x80000000u, 1), false);
  out.picture("broken-png-10000x10000.png", withIhdr(png, 10000, 10000), false);
  out.picture("broken-png-bit-depth.png", withIhdr(png, 17, 11, 3), false);
  {
    Bytes noPlte = paletteTrns;
    const size_t plte = findChunk(noPlte, "PLTE");
    const uint32_t length = uint32_t(uint8_t(noPlte[plte + 2])) << 8 | uint8_t(noPlte[plte + 3]);
    noPlte.erase(plte, 12 + length);
    out.picture("broken-png-palette-missing.png", noPlte, false);
    PngSpec shortPalette{kSmall.w, kSmall.h, PNG_COLOR_TYPE_PALETTE, 8};
    shortPalette.paletteSize = 256;
    Bytes fewColours = pngFile(shortPalette);
    const size_t at = findChunk(fewColours, "PLTE");
    const Bytes twoColours = pngChunk("PLTE", Bytes("\x10\x20\x30\xF0\xE0\xD0", 6));
    fewColours = fewColours.substr(0, at) + twoColours + fewColours.substr(at + 12 + 768);
    out.picture("broken-png-palette-short.png", fewColours, false);
  }
  out.picture("broken-png-after-iend.png", png + garbage(100, 11), false);

  // JPEG: baseline, progressive, optimised, greyscale; and broken ones.
  const QImage full = image(kFull.w, kFull.h), small = image(kSmall.w, kSmall.h);
  const Bytes jpeg = qtFile(full, "jpeg", [](QImageWriter& w) { w.setQuality(80); });
  out.picture("jpeg-baseline-320x200.jpg", jpeg, true);
  out.picture("jpeg-baseline-17x11.jpg", qtFile(small, "jpeg"), true);
  out.picture("jpeg-baseline-1x1.jpg", qtFile(image(1, 1), "jpeg"), true);
  out.picture("jpeg-progressive-327x207.jpg",
              qtFile(image(kWide.w, kWide.h), "jpeg", [](QImageWriter& w) { w.setProgressiveScanWrite(true); }), true);
  out.picture("jpeg-progressive-17x11.jpg",
              qtFile(small, "jpeg", [](QImageWriter& w) { w.setProgressiveScanWrite(true); }), true);
  out.picture("jpeg-optimized-17x11.jpg", qtFile(small, "jpeg", [](QImageWriter& w) {
                w.setOptimizedWrite(true);
                w.setQuality(100);
              }),
              true);
  out.picture("jpeg-grey-320x200.jpg", qtFile(image(kFull.w, kFull.h, QImage::Format_Grayscale8), "jpeg"), true);
  out.picture("broken-jpeg-truncated.jpg", truncated(jpeg, 0.4), false);
  out.picture("broken-jpeg-soi-only.jpg", jpeg.substr(0, 2) + garbage(300, 5), false);
  {
    const size_t sof = jpeg.find("\xFF\xC0");
    if (sof != Bytes::npos) {
      Bytes zero = jpeg, huge = jpeg;
      put16be(zero, sof + 5, 0);
      put16be(zero, sof + 7, 0);
      out.picture("broken-jpeg-zero-size.jpg", zero, false);
      put16be(huge, sof + 5, 65500);
      put16be(huge, sof + 7, 65500);
      out.picture("broken-jpeg-huge.jpg", huge, false);
    }
  }

  // BMP: 24-bit and 8-bit palette from Qt, a top-down variant, and broken headers.
  const Bytes bmp = qtFile(small, "bmp");
  out.picture("bmp-24-17x11.bmp", bmp, true);
  out.picture("bmp-24-320x200.bmp", qtFile(full, "bmp"), true);
  out.picture("bmp-8-17x11.bmp", qtFile(image(kSmall.w, kSmall.h, QImage::Format_Indexed8), "bmp"), true);
  out.picture("bmp-1-17x11.bmp", qtFile(image(kSmall.w, kSmall.h, QImage::Format_Mono), "bmp"), true);
  out.picture("bmp-32-alpha-17x11.bmp", qtFile(image(kSmall.w, kSmall.h, QImage::Format_ARGB32), "bmp"), true);
  {
    Bytes topDown = bmp;
    put32le(topDown, 22, uint32_t(-kSmall.h));
    out.picture("bmp-24-top-down.bmp", topDown, true);
    Bytes b = bmp;
    put32le(b, 18, 0);
    out.picture("broken-bmp-zero-width.bmp", b, false);
    b = bmp;
    put32le(b, 18, 30000);
    put32le(b, 22, 30000);
    out.picture("broken-bmp-huge.bmp", b, false);
    b = bmp;
    put32le(b, 22, 0x80000000u);
    out.picture("broken-bmp-most-negative-height.bmp", b, false);
    b = bmp;
    put32le(b, 10, 0x7FFFFFF0u);
    out.picture("broken-bmp-data-offset.bmp", b, false);
    b = bmp;
    put16le(b, 28, 0);
    out.picture("broken-bmp-bit-count.bmp", b, false);
    Bytes rle = qtFile(image(kSmall.w, kSmall.h, QImage::Format_Indexed8), "bmp");
    put32le(rle, 30, 1);  // RLE8 over data that is not run-length coded
    out.picture("broken-bmp-rle8.bmp", rle, false);
    out.picture("broken-bmp-truncated.bmp", truncated(bmp, 0.6), false);
  }

  // GIF: global and local palettes, interlaced, transparent, animated, two colours.
  out.picture("gif-8-17x11.gif", gifFile(17, 11, 8, {{0, 0, 17, 11}}), true);
  out.picture("gif-8-1x1.gif", gifFile(1, 1, 8, {{0, 0, 1, 1}}), true);
  out.picture("gif-2-17x11.gif", gifFile(17, 11, 1, {{0, 0, 17, 11}}), true);
  out.picture("gif-4-interlaced-320x200.gif", gifFile(320, 200, 4, {{0, 0, 320, 200, true}}), true);
  out.picture("gif-8-transparent-local-17x11.gif", gifFile(17, 11, 8, {{0, 0, 17, 11, false, true, 3}}), true);
  const Bytes animated = gifFile(17, 11, 8, {{0, 0, 17, 11}, {4, 3, 9, 5}});
  out.picture("gif-8-animated.gif", animated, true);
  out.picture("broken-gif-truncated.gif", truncated(animated, 0.7), false);
  out.picture("broken-gif-zero-size.gif", gifFile(0, 0, 8, {{0, 0, 0, 0}}), false);
  out.picture("broken-gif-huge.gif", gifFile(65535, 65535, 8, {{0, 0, 5, 5}}), false);
  out.picture("broken-gif-frame-outside.gif", gifFile(17, 11, 8, {{60000, 60000, 20, 20}}), false);
  out.picture("broken-gif-frame-larger.gif", gifFile(4, 4, 8, {{0, 0, 30, 30}}), false);
  {
    Bytes codes = gifFile(17, 11, 8, {{0, 0, 17, 11}});
    for (size_t i = 800 + 10; i < codes.size() - 2 && i < 800 + 200; ++i) codes[i] = char(0xFF);
    out.picture("broken-gif-codes.gif", codes, false);
  }

  // PPM family: binary from Qt, ASCII by hand, 16-bit samples, broken headers.
  out.picture("ppm-binary-17x11.ppm", qtFile(small, "ppm"), true);
  out.picture("ppm-binary-320x200.ppm", qtFile(full, "ppm"), true);
  out.picture("pgm-binary-17x11.pgm", qtFile(image(kSmall.w, kSmall.h, QImage::Format_Grayscale8), "pgm"), true);
  out.picture("pbm-binary-17x11.pbm", qtFile(image(kSmall.w, kSmall.h, QImage::Format_Mono), "pbm"), true);
  {
    Bytes ascii = "P3\n# tavrix\n4 3\n255\n";
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        const uint32_t p = pixel(x, y, 4, 3);
        ascii += std::to_string(p >> 16) + " " + std::to_string(p >> 8 & 255) + " " + std::to_string(p & 255) + "\n";
      }
    out.picture("ppm-ascii-4x3.ppm", ascii, true);
    out.picture("pgm-ascii-3x2.pgm", "P2\n3 2\n15\n0 5 10\n15 7 3\n", true);
    out.picture("pbm-ascii-5x2.pbm", "P1\n5 2\n1 0 1 0 1\n0 1 0 1 0\n", true);
    Bytes wide = "P6\n2 2\n65535\n" + garbage(24, 9);
    out.picture("ppm-16bit-2x2.ppm", wide, true);
    out.picture("broken-ppm-zero-width.ppm", "P6\n0 10\n255\n" + garbage(30, 1), false);
    out.picture("broken-ppm-huge.ppm", "P6\n99999 99999\n255\n" + garbage(300, 2), false);
    out.picture("broken-ppm-maxval-zero.ppm", "P6\n2 2\n0\n" + garbage(12, 3), false);
    out.picture("broken-ppm-ascii-too-big.ppm", "P3\n2 1\n255\n300 -1 99999999999 12 12 12\n", false);
    out.picture("broken-ppm-truncated.ppm", truncated(qtFile(small, "ppm"), 0.5), false);
    out.picture("broken-ppm-header-only.ppm", "P6\n", false);
  }

  // Formats from plugins, where Qt writes them.
  out.picture("tiff-17x11.tif", qtFile(small, "tiff"), true);
  const Bytes tiffLzw = qtFile(full, "tiff", [](QImageWriter& w) { w.setCompression(1); });
  out.picture("tiff-lzw-320x200.tif", tiffLzw, true);
  out.picture("tiff-alpha-17x11.tif", qtFile(image(kSmall.w, kSmall.h, QImage::Format_ARGB32), "tiff"), true);
  // Beyond what libpng reads (a million pixels a side): a one-pixel-wide picture two
  // million rows tall and a row of three million pixels, a few kilobytes each.
  const auto lzw = [](QImageWriter& w) { w.setCompression(1); };
  out.picture("tiff-mono-1x2000000.tif", qtFile(image(1, 2000000, QImage::Format_Mono), "tiff", lzw), true);
  out.picture("tiff-mono-3000000x1.tif", qtFile(image(3000000, 1, QImage::Format_Mono), "tiff", lzw), true);
  out.picture("broken-tiff-truncated.tif", truncated(tiffLzw, 0.5), false);
  const Bytes webp = qtFile(full, "webp", [](QImageWriter& w) { w.setQuality(70); });
  out.picture("webp-lossy-320x200.webp", webp, true);
  out.picture("webp-lossless-17x11.webp", qtFile(small, "webp", [](QImageWriter& w) { w.setQuality(100); }), true);
  out.picture("broken-webp-truncated.webp", truncated(webp, 0.5), false);
  out.picture("ico-17x11.ico", qtFile(small, "ico"), true);
  out.picture("icns-32x32.icns", qtFile(image(32, 32), "icns"), true);
  out.picture("wbmp-17x11.wbmp", qtFile(image(kSmall.w, kSmall.h, QImage::Format_Mono), "wbmp"), true);
  out.picture("xpm-17x11.xpm", qtFile(image(kSmall.w, kSmall.h, QImage::Format_Indexed8), "xpm"), true);
  out.picture("xbm-17x11.xbm", qtFile(image(kSmall.w, kSmall.h, QImage::Format_Mono), "xbm"), true);
  out.picture("tga-17x11.tga", tgaFile(17, 11, false), true);
  out.picture("tga-no-id-17x11.tga", tgaFile(17, 11, false, ""), false);
  out.picture("tga-rle-320x200.tga", tgaFile(320, 200, true), false);  // not every reader version decodes runs
  out.picture("broken-tga-truncated.tga", truncated(tgaFile(17, 11, true), 0.5), false);

  // Nothing a reader knows.
  out.picture("garbage-1.bin", garbage(1, 1), false);
  out.picture("garbage-64.bin", garbage(64, 2), false);
  out.picture("garbage-4096.bin", garbage(4096, 3), false);
  out.picture("zeros-512.bin", Bytes(512, '\0'), false);
  out.picture("text.txt", "This is not a picture.\n", false);
}

// ---- Settings files ----

// A file as QSettings writes it, for the types it writes as @Variant(...), @Point(...) and so on.
Bytes qsettingsFile(const std::vector<std::pair<const char*, QVariant>>& values) {
  QTemporaryDir dir;
  const QString path = dir.filePath("tavrix.conf");
  {
    QSettings store(path, QSettings::IniFormat);
    for (const auto& [name, value] : values) store.setValue(QString::fromLatin1(name), value);
  }
  QFile file(path);
  file.open(QIODevice::ReadOnly);
  return file.readAll().toStdString();
}

Bytes settingsText(const std::vector<std::string>& values) {
  static const char* kNames[] = {"Top",        "Left",     "Width",  "Height",    "Crop",       "Sharpen",
                                 "Oversaturate", "HDR", "ColorRange", "Colormap", "Dither", "OutputMode"};
  Bytes text = "[General]\n";
  for (size_t i = 0; i < values.size() && i < 12; ++i) text += std::string(kNames[i]) + "=" + values[i] + "\n";
  return text;
}

void settings(Writer& out) {
  out.write("defaults.conf", settingsText({"100", "200", "648", "515", "0", "0", "0", "0", "0", "0", "0", "3"}));
  out.write("top-items.conf", settingsText({"0", "0", "2000", "1500", "3", "2", "4", "2", "2", "1", "3", "3"}));
  out.write("no-items.conf", settingsText({"-5", "-7", "1", "1", "-1", "-1", "-1", "-1", "-1", "-1", "-1", "-1"}));
  out.write("outside-lists.conf", settingsText({"1", "2", "700", "600", "4", "3", "5", "3", "3", "2", "4", "4"}));
  out.write("extremes.conf", settingsText({"-2147483648", "2147483647", "2147483647", "-2147483648", "2147483647",
                                           "-2147483648", "99", "-99", "1", "1", "1", "1"}));
  out.write("too-large.conf", settingsText({"2147483648", "1", "1", "1"}));
  out.write("huge-number.conf", settingsText({"1", "2", "99999999999999999999999999999999", "1"}));
  out.write("text-value.conf", settingsText({"1", "2", "640", "tall", "0"}));
  out.write("fraction.conf", settingsText({"1", "2", "640", "488", "1", "2", "2.5"}));
  out.write("empty-value.conf", settingsText({"1", "", "640"}));
  out.write("spaces-signs.conf", settingsText({" 12 ", "+5", "0x10", "1e3", "\"7\"", "1,2", "\\x31"}));
  out.write("only-two.conf", settingsText({"5", "7"}));
  out.write("other-group.conf", "[Other]\nTop=1\nLeft=2\n[General]\nWidth=700\n");
  out.write("no-group.conf", "Top=1\nLeft=2\nWidth=700\nHeight=600\nCrop=2\n");
  out.write("duplicates.conf", "[General]\nTop=1\nTop=2\nLeft=3\n[General]\nLeft=9\n");
  out.write("crlf-bom.conf", "\xEF\xBB\xBF[General]\r\nTop=1\r\nLeft=2\r\nWidth=800\r\n");
  out.write("unterminated.conf", "[General\nTop=1\n[\n=\n==\nLeft\n");
  out.write("continuation.conf", "[General]\nTop=1\\\n2\nLeft=\"3\\\n4\"\n");
  out.write("nul-bytes.conf", Bytes("[General]\nTop=1\0\nLeft=2\0\0x\n", 25));
  out.write("garbage.conf", garbage(300, 42));
  out.write("long-line.conf", "[General]\nTop=" + Bytes(5000, '9') + "\n");
  out.write("variants.conf",
            qsettingsFile({{"Top", QPoint(3, 4)}, {"Left", QSize(5, 6)}, {"Width", QRect(1, 2, 3, 4)},
                           {"Height", QByteArray("\x00\x01\xFF", 3)}, {"Crop", QStringList{"1", "2"}},
                           {"Sharpen", QVariant()}, {"Oversaturate", 2.75}, {"HDR", true}}));
  out.write("variant-ints.conf",
            qsettingsFile({{"Top", 1}, {"Left", 2}, {"Width", qlonglong(1) << 40}, {"Height", 3u},
                           {"Crop", QVariant::fromValue<short>(2)}, {"Sharpen", QChar('1')},
                           {"Oversaturate", QVariant::fromValue<uint8_t>(4)}, {"HDR", 1.0f}}));
  out.write("variant-image.conf", qsettingsFile({{"Top", QImage(2, 2, QImage::Format_RGB32)}, {"Left", 2}}));
  out.write("variant-broken.conf", "[General]\nTop=@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff)\nLeft=@Invalid()\n"
                                   "Width=@Point(1)\nHeight=@Rect()\nCrop=@ByteArray(\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-fuzz-corpus OUT_DIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  Writer convert{root / "convert"}, settingsOut{root / "settings"};
  fs::create_directories(convert.dir);
  fs::create_directories(settingsOut.dir);
  pictures(convert);
  settings(settingsOut);
  std::printf("make-fuzz-corpus: %d pictures in %s, %d settings files in %s\n", convert.count,
              convert.dir.c_str(), settingsOut.count, settingsOut.dir.c_str());
  return convert.failures == 0 ? 0 : 1;
}
