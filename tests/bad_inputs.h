#pragma once
// Files that are not the pictures they claim to be, and pictures at the edges of what
// converts, all made here from a few bytes: the CLI's and the window's tests load the same
// set and must answer each with one clear error or a correct conversion.
#include <QBuffer>
#include <QImage>

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrix::testing {

struct BadInput {
  std::string kind;  // a tag for test rows: letters, digits and '-'
  std::string made;  // how the file is made, in a few words
  // What the error says after "PATH: " (the start of the reason); empty when the file is a
  // picture that must convert.
  std::string reason;
  // Makes the file (or link, folder, pipe) in `folder` and returns the path to load. It may
  // name something outside the folder (/dev/zero); it never exists before.
  std::function<std::string(const std::filesystem::path& folder)> make;
  // Only a user without root's override of permission bits sees this failure.
  bool needsUnprivileged = false;
};

// Test names show the kind, not the bytes of the struct.
inline void PrintTo(const BadInput& input, std::ostream* os) { *os << input.kind; }

namespace bad_inputs_detail {

namespace fs = std::filesystem;

inline void put32be(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += char(v >> shift);
}
inline void put16le(std::string& s, uint16_t v) {
  s += char(v);
  s += char(v >> 8);
}
inline void put32le(std::string& s, uint32_t v) {
  put16le(s, uint16_t(v));
  put16le(s, uint16_t(v >> 16));
}

inline std::string pngChunk(const std::string& type, const std::string& data) {
  std::string chunk;
  put32be(chunk, uint32_t(data.size()));
  chunk += type + data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), uInt(type.size()));
  crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()));
  put32be(chunk, uint32_t(crc));
  return chunk;
}

inline std::string zlibCompress(const std::string& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                uLong(raw.size()), 9) != Z_OK)
    throw std::runtime_error("zlib compress2 failed");
  out.resize(size);
  return out;
}

// An 8-bit RGB PNG from its parts; `idat` is the compressed stream as stored.
inline std::string png(uint32_t width, uint32_t height, const std::string& idat) {
  std::string ihdr;
  put32be(ihdr, width);
  put32be(ihdr, height);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, truecolour, deflate, filter 0, no interlace
  return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", idat) +
         pngChunk("IEND", "");
}

// Rows of filter byte 0 and RGB gradients: a picture with some colour in it.
inline std::string rgbRows(int width, int height) {
  std::string raw;
  raw.reserve(size_t(height) * (1 + 3 * size_t(width)));
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) {
      raw += char(x * 255 / std::max(1, width - 1));
      raw += char(y * 255 / std::max(1, height - 1));
      raw += char((x + y) * 7);
    }
  }
  return raw;
}

inline std::string goodPng(int width, int height) {
  return png(uint32_t(width), uint32_t(height), zlibCompress(rgbRows(width, height)));
}

// A 24-bit bottom-up BMP with a 40-byte info header; `pixels` are stored as given.
inline std::string bmp(int32_t width, int32_t height, const std::string& pixels) {
  std::string b = "BM";
  put32le(b, uint32_t(54 + pixels.size()));
  put32le(b, 0);
  put32le(b, 54);
  put32le(b, 40);
  put32le(b, uint32_t(width));
  put32le(b, uint32_t(height));
  put16le(b, 1);   // planes
  put16le(b, 24);  // bits per pixel
  put32le(b, 0);   // BI_RGB
  put32le(b, uint32_t(pixels.size()));
  put32le(b, 2835);
  put32le(b, 2835);
  put32le(b, 0);
  put32le(b, 0);
  return b + pixels;
}

// A GIF89a of 4 colours. Every pixel is sent as a clear code and its index, so the code
// size stays 3 bits and no compressor is needed.
inline std::string gif(int width, int height) {
  std::string g = "GIF89a";
  put16le(g, uint16_t(width));
  put16le(g, uint16_t(height));
  g += char(0x81);  // global colour table of 4 entries
  g += '\0';
  g += '\0';
  g += std::string("\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff", 12);
  g += ',';
  put16le(g, 0);
  put16le(g, 0);
  put16le(g, uint16_t(width));
  put16le(g, uint16_t(height));
  g += '\0';
  g += char(2);  // minimum code size
  std::string codes;
  uint32_t bits = 0;
  int count = 0;
  auto code = [&](uint32_t value) {
    bits |= value << count;
    count += 3;
    while (count >= 8) {
      codes += char(bits & 0xFF);
      bits >>= 8;
      count -= 8;
    }
  };
  for (int i = 0; i < width * height; ++i) {
    code(4);  // clear
    code(uint32_t((i / width + i % width) % 4));
  }
  code(5);  // end of information
  if (count > 0) codes += char(bits & 0xFF);
  for (size_t at = 0; at < codes.size(); at += 255) {
    const std::string block = codes.substr(at, 255);
    g += char(block.size());
    g += block;
  }
  g += '\0';
  g += ';';
  return g;
}

inline std::string jpeg(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 255 / (width - 1), y * 255 / (height - 1), (x ^ y) & 255));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "JPG", 90)) throw std::runtime_error("Qt cannot write JPEG");
  return bytes.toStdString();
}

// Where the entropy-coded data of the (first) scan starts: after the SOS segment.
inline size_t jpegScanStart(const std::string& j) {
  for (size_t at = 2; at + 4 <= j.size();) {
    if (uint8_t(j[at]) != 0xFF) break;
    const uint8_t marker = uint8_t(j[at + 1]);
    const size_t length = size_t(uint8_t(j[at + 2])) << 8 | uint8_t(j[at + 3]);
    if (marker == 0xDA) return at + 2 + length;
    at += 2 + length;
  }
  throw std::runtime_error("no scan in the JPEG");
}

inline std::string write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
  return path.string();
}

}  // namespace bad_inputs_detail

// Every kind, in a fixed order.
inline const std::vector<BadInput>& badInputs() {
  namespace d = bad_inputs_detail;
  namespace fs = std::filesystem;
  using d::write;
  static const std::vector<BadInput> kInputs = {
      {"missing", "a name with no file", "No such file or directory",
       [](const fs::path& f) { return (f / "missing.png").string(); }},
      {"unreadable", "a real PNG, chmod 000", "Permission denied",
       [](const fs::path& f) {
         const std::string p = write(f / "locked.png", d::goodPng(64, 40));
         chmod(p.c_str(), 0);
         return p;
       },
       true},
      {"folder", "a folder named like a picture", "is a folder, not a picture file",
       [](const fs::path& f) {
         fs::create_directory(f / "album.jpg");
         return (f / "album.jpg").string();
       }},
      {"empty", "a file of 0 bytes", "empty file", [](const fs::path& f) { return write(f / "empty.png", ""); }},
      {"text", "a text file", "a text file, not a picture",
       [](const fs::path& f) { return write(f / "readme.txt", "Pictures go in the pictures folder.\nThanks!\n"); }},
      {"text-named-png", "a text file named .png", "a text file, not a picture",
       [](const fs::path& f) { return write(f / "notes.png", "This is a text file, not a picture.\n"); }},
      {"unknown-binary", "1 KiB of bytes 0-255 repeated", "not a picture in any format the image readers know",
       [](const fs::path& f) {
         std::string bytes;
         for (int i = 0; i < 1024; ++i) bytes += char(i);
         return write(f / "blob.dat", bytes);
       }},
      {"png-bad-crc", "a 64x40 PNG with one bit of the IDAT chunk's CRC flipped", "damaged picture data (IDAT: CRC error)",
       [](const fs::path& f) {
         std::string p = d::goodPng(64, 40);
         p[p.find("IEND") - 5] ^= 0x01;  // the last byte of IDAT's CRC
         return write(f / "badcrc.png", p);
       }},
      {"png-bad-idat", "a 64x40 PNG whose deflate stream is scrambled (CRC valid)", "damaged picture data (IDAT: ",
       [](const fs::path& f) {
         std::string z = d::zlibCompress(d::rgbRows(64, 40));
         for (size_t i = 2; i + 4 < z.size(); ++i) z[i] = char(z[i] ^ 0xA5);
         return write(f / "scrambled.png", d::png(64, 40, z));
       }},
      {"png-truncated", "a 64x40 PNG cut to half its length", "truncated: the file ends inside the picture data",
       [](const fs::path& f) {
         const std::string p = d::goodPng(64, 40);
         return write(f / "cut.png", p.substr(0, p.size() / 2));
       }},
      {"png-huge", "a PNG whose IHDR declares 20000x20000", "too large: 20000x20000 is more than 100 megapixels",
       [](const fs::path& f) { return write(f / "huge.png", d::png(20000, 20000, d::zlibCompress(std::string(100, '\0')))); }},
      {"png-zero-width", "a PNG whose IHDR declares 0x40", "the picture has no pixels (0x40)",
       [](const fs::path& f) { return write(f / "flat.png", d::png(0, 40, d::zlibCompress(std::string(40, '\0')))); }},
      {"bmp-zero-width", "a BMP whose header declares 0x10", "the picture has no pixels (0x10)",
       [](const fs::path& f) { return write(f / "flat.bmp", d::bmp(0, 10, "")); }},
      {"bmp-short", "a BMP declaring 1000x1000 with 300 bytes of pixels",
       "truncated: the header declares 1000x1000 pixels, which need 3000054 bytes; the file has 354",
       [](const fs::path& f) { return write(f / "short.bmp", d::bmp(1000, 1000, std::string(300, '\x40'))); }},
      {"jpeg-truncated", "a 96x64 JPEG cut in the middle of its scan", "truncated: the file ends inside the picture data",
       [](const fs::path& f) {
         const std::string j = d::jpeg(96, 64);
         const size_t scan = d::jpegScanStart(j);
         return write(f / "cut.jpg", j.substr(0, scan + (j.size() - scan) / 2));
       }},
      {"jpeg-huge", "a JPEG whose frame header declares 60000x60000", "too large: 60000x60000 is more than 100 megapixels",
       [](const fs::path& f) {
         std::string j = d::jpeg(96, 64);
         const size_t sof = j.find("\xFF\xC0", 2);
         for (size_t at : {sof + 5, sof + 7}) j[at] = char(0xEA), j[at + 1] = char(0x60);
         return write(f / "huge.jpg", j);
       }},
      {"gif-truncated", "a 40x30 GIF cut in the middle of its image data", "truncated: the file ends inside the picture data",
       [](const fs::path& f) {
         const std::string g = d::gif(40, 30);
         return write(f / "cut.gif", g.substr(0, g.size() / 2));
       }},
      {"tiff-truncated", "a 64x40 TIFF cut to half its length (its directory is at the end)",
       "damaged or truncated picture data (Can not read TIFF directory count)",
       [](const fs::path& f) {
         QImage image(64, 40, QImage::Format_RGB32);
         image.fill(qRgb(200, 120, 40));
         QByteArray bytes;
         QBuffer buffer(&bytes);
         buffer.open(QIODevice::WriteOnly);
         if (!image.save(&buffer, "TIFF")) throw std::runtime_error("Qt cannot write TIFF");
         return write(f / "cut.tif", bytes.left(bytes.size() / 2).toStdString());
       }},
      {"fifo", "a named pipe (mkfifo) with no writer", "is a named pipe, not a picture file",
       [](const fs::path& f) {
         const fs::path p = f / "pipe.png";
         if (mkfifo(p.c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
         return p.string();
       }},
      {"device", "/dev/zero", "is a device, not a picture file", [](const fs::path&) { return std::string("/dev/zero"); }},
      {"symlink-loop", "two symbolic links naming each other", "Too many levels of symbolic links",
       [](const fs::path& f) {
         fs::create_symlink("loop-b.png", f / "loop-a.png");
         fs::create_symlink("loop-a.png", f / "loop-b.png");
         return (f / "loop-a.png").string();
       }},
      {"dangling-symlink", "a symbolic link to a file that does not exist",
       "a dangling symbolic link to gone.png",
       [](const fs::path& f) {
         fs::create_symlink("gone.png", f / "link.png");
         return (f / "link.png").string();
       }},
      // Damaged scan data is no error to libjpeg: it decodes what it can and fills the rest,
      // which is a picture like any other.
      {"jpeg-damaged", "a 96x64 JPEG with 40 scan bytes overwritten by garbage (no 0xFF)", "",
       [](const fs::path& f) {
         std::string j = d::jpeg(96, 64);
         const size_t scan = d::jpegScanStart(j);
         for (size_t i = 0; i < 40; ++i) j[scan + 100 + i] = char((i * 37 + 11) % 255);
         return write(f / "garbled.jpg", j);
       }},
      {"png-1x1", "a 1x1 PNG", "", [](const fs::path& f) { return write(f / "dot.png", d::goodPng(1, 1)); }},
      {"png-5000x1", "a 5000x1 PNG strip", "", [](const fs::path& f) { return write(f / "strip.png", d::goodPng(5000, 1)); }},
  };
  return kInputs;
}

}  // namespace tavrix::testing
