// Checks of a picture file's own structure and size, for what Qt's image readers would
// not notice or not explain.
#include "app/io/picture_checks.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "app/io/image_io.h"

namespace tavrix {

void failToLoad(const std::string& name, const std::string& reason) { throw FileError(name + ": " + reason); }

namespace {

// The readers fill in what a cut file lacks (grey, black, the background colour) and report
// success; these checks of the file's structure come first and say what is wrong instead.
const std::string kTruncated = "truncated: the file ends inside the picture data";

std::string sizeText(long long width, long long height) { return std::to_string(width) + "x" + std::to_string(height); }

}  // namespace

void checkSize(const std::string& name, long long width, long long height, int bytesPerPixel) {
  if (width <= 0 || height <= 0) failToLoad(name, "the picture has no pixels (" + sizeText(width, height) + ")");
  // Divided, not multiplied: a PNG header declares up to 2^32 - 1 a side, whose product overflows.
  if (width > kMaxPixels / height) failToLoad(name, "too large: " + sizeText(width, height) + " is more than 100 megapixels");
  if (width * height * bytesPerPixel > kMaxDecodedBytes)
    failToLoad(name, "too large: " + sizeText(width, height) + " would take more than 1 GiB to decode");
}

namespace {

// Reads a device from its current position in blocks, for the structure walks below.
class ByteReader {
 public:
  explicit ByteReader(QIODevice& device) : device_(device) {}

  bool byte(uint8_t& b) {
    if (at_ == size_ && !fill()) return false;
    b = buffer_[at_++];
    return true;
  }
  bool skip(long long n) {
    while (n > 0) {
      if (at_ == size_ && !fill()) return false;
      const long long step = std::min<long long>(n, size_ - at_);
      at_ += size_t(step);
      n -= step;
    }
    return true;
  }
  // Moves past the next 0xFF byte.
  bool pastNextFF() {
    for (;;) {
      if (const void* ff = std::memchr(buffer_ + at_, 0xFF, size_ - at_)) {
        at_ = size_t(static_cast<const uint8_t*>(ff) - buffer_) + 1;
        return true;
      }
      at_ = size_;
      if (!fill()) return false;
    }
  }

 private:
  bool fill() {
    const qint64 n = device_.read(reinterpret_cast<char*>(buffer_), qint64(sizeof buffer_));
    if (n <= 0) return false;
    size_ = size_t(n);
    at_ = 0;
    return true;
  }
  QIODevice& device_;
  uint8_t buffer_[65536];
  size_t at_ = 0, size_ = 0;
};

// A JPEG is whole when its markers lead to EOI; the entropy-coded data after each SOS runs
// to the next marker. Returns false when the file ends first.
bool jpegComplete(ByteReader& in) {
  uint8_t b = 0;
  if (!in.skip(2)) return false;  // SOI
  for (;;) {
    // Anything between segments is skipped to the next marker, as libjpeg does.
    if (!in.pastNextFF()) return false;
    do {
      if (!in.byte(b)) return false;
    } while (b == 0xFF);
    for (;;) {
      if (b == 0xD9) return true;                             // EOI
      if (b == 0 || b == 0x01 || (b >= 0xD0 && b <= 0xD7)) break;  // no segment follows
      uint8_t high = 0, low = 0;
      if (!in.byte(high) || !in.byte(low)) return false;
      const int length = high << 8 | low;
      if (length < 2) return true;  // malformed beyond a cut: the decoder reports it
      if (!in.skip(length - 2)) return false;
      if (b != 0xDA) break;
      // Scan data: 0xFF 0x00 is a stuffed byte and 0xFF 0xD0-D7 a restart; any other
      // marker ends the scan and is handled here.
      do {
        if (!in.pastNextFF()) return false;
        do {
          if (!in.byte(b)) return false;
        } while (b == 0xFF);
      } while (b == 0 || (b >= 0xD0 && b <= 0xD7));
    }
  }
}

bool gifSubBlocks(ByteReader& in) {
  for (uint8_t size = 0;;) {
    if (!in.byte(size)) return false;
    if (size == 0) return true;
    if (!in.skip(size)) return false;
  }
}

// A GIF is whole when every block it starts is complete. A file that ends after a whole
// image without the trailer byte is common enough to accept.
bool gifComplete(ByteReader& in) {
  uint8_t flags = 0, b = 0;
  if (!in.skip(10) || !in.byte(flags) || !in.skip(2)) return false;
  if ((flags & 0x80) && !in.skip(3 << ((flags & 7) + 1))) return false;
  for (bool image = false;;) {
    if (!in.byte(b)) return image;
    if (b == 0x3B) return true;  // trailer
    if (b == 0x21) {             // extension: label, sub-blocks
      if (!in.skip(1) || !gifSubBlocks(in)) return false;
    } else if (b == 0x2C) {  // image: descriptor, local colours, code size, sub-blocks
      if (!in.skip(8) || !in.byte(flags)) return false;
      if ((flags & 0x80) && !in.skip(3 << ((flags & 7) + 1))) return false;
      if (!in.skip(1) || !gifSubBlocks(in)) return false;
      image = true;
    } else {
      return true;  // not a block: the decoder reports it
    }
  }
}

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Qt's BMP reader gives a picture with black rows for pixels the file lacks, and cannot
// say what is wrong with a size of 0.
void checkBmp(const uint8_t* head, qint64 headSize, qint64 fileSize, const std::string& name) {
  if (headSize < 30) return;
  const uint32_t offset = le32(head + 10), infoSize = le32(head + 14);
  long long width = 0, height = 0;
  uint32_t bits = 0, compression = 0;
  if (infoSize == 12) {  // OS/2 core header
    width = le16(head + 18), height = le16(head + 20), bits = le16(head + 24);
  } else if (infoSize >= 40 && headSize >= 34) {
    width = int32_t(le32(head + 18)), height = int32_t(le32(head + 22)), bits = le16(head + 28);
    compression = le32(head + 30);
  } else {
    return;
  }
  if (height < 0) height = -height;  // stored top-down
  checkSize(name, width, height, 4);
  const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
  if (!uncompressed || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)) return;
  const long long rowBytes = (width * bits + 31) / 32 * 4;
  const long long needed = offset + rowBytes * height;
  if (fileSize < needed)
    failToLoad(name, "truncated: the header declares " + sizeText(width, height) + " pixels, which need " +
                   std::to_string(needed) + " bytes; the file has " + std::to_string(fileSize));
}

// libpng reports errors by longjmp, and without an error function of its own (as Qt
// installs it) it prints them on stderr first. Every row is decoded here, with messages
// kept, so the image reader only ever sees a PNG that decodes.
struct PngCheck {
  QIODevice* device = nullptr;
  bool ended = false;
  char error[200] = "";
  char warning[200] = "";
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_bytep row = nullptr;
};

void pngRead(png_structp png, png_bytep data, png_size_t length) {
  auto* check = static_cast<PngCheck*>(png_get_io_ptr(png));
  if (check->device->read(reinterpret_cast<char*>(data), qint64(length)) != qint64(length)) {
    check->ended = true;
    png_error(png, "the file ends early");
  }
}

void pngError(png_structp png, png_const_charp message) {
  auto* check = static_cast<PngCheck*>(png_get_error_ptr(png));
  std::snprintf(check->error, sizeof check->error, "%s", message);
  png_longjmp(png, 1);
}

void pngWarning(png_structp png, png_const_charp message) {
  auto* check = static_cast<PngCheck*>(png_get_error_ptr(png));
  std::snprintf(check->warning, sizeof check->warning, "%s", message);
}

// No object with a destructor may live in this frame.
bool pngDecodes(PngCheck& check) {
  check.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &check, pngError, pngWarning);
  if (check.png) check.info = png_create_info_struct(check.png);
  if (!check.info) {
    png_destroy_read_struct(&check.png, nullptr, nullptr);
    std::snprintf(check.error, sizeof check.error, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(check.png))) {
    png_free(check.png, check.row);
    png_destroy_read_struct(&check.png, &check.info, nullptr);
    return false;
  }
  png_set_read_fn(check.png, &check, pngRead);
  png_read_info(check.png, check.info);
  const int passes = png_set_interlace_handling(check.png);
  png_read_update_info(check.png, check.info);
  check.row = static_cast<png_bytep>(png_malloc(check.png, png_get_rowbytes(check.png, check.info)));
  const png_uint_32 height = png_get_image_height(check.png, check.info);
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(check.png, check.row, nullptr);
  png_read_end(check.png, nullptr);
  png_free(check.png, check.row);
  png_destroy_read_struct(&check.png, &check.info, nullptr);
  return true;
}

void checkPng(QIODevice& device, const uint8_t* head, qint64 headSize, const std::string& name) {
  if (headSize >= 26 && std::memcmp(head + 12, "IHDR", 4) == 0)
    checkSize(name, be32(head + 16), be32(head + 20), head[24] == 16 ? 8 : 4);
  PngCheck check;
  check.device = &device;
  if (pngDecodes(check)) return;
  if (check.ended) failToLoad(name, kTruncated);
  // libpng gives the particulars of a bad header in a warning before the error.
  const bool header = std::strcmp(check.error, "Invalid IHDR data") == 0 && check.warning[0];
  failToLoad(name, std::string("damaged picture data (") + (header ? check.warning : check.error) + ")");
}

}  // namespace

// What the readers would not notice or not explain, told from the file's own structure.
void checkStructure(QIODevice& device, const std::string& name) {
  uint8_t head[64];
  const qint64 headSize = device.peek(reinterpret_cast<char*>(head), qint64(sizeof head));
  auto startsWith = [&](const char* magic, size_t length) {
    return headSize >= qint64(length) && std::memcmp(head, magic, length) == 0;
  };
  ByteReader in(device);
  if (startsWith("\x89PNG\r\n\x1a\n", 8)) {
    checkPng(device, head, headSize, name);
  } else if (startsWith("\xFF\xD8", 2)) {
    if (!jpegComplete(in)) failToLoad(name, kTruncated);
  } else if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) {
    if (!gifComplete(in)) failToLoad(name, kTruncated);
  } else if (startsWith("BM", 2)) {
    checkBmp(head, headSize, device.size(), name);
  }
  if (!device.seek(0)) failToLoad(name, "cannot read the file again from its start");
}

// Plain text, ASCII or UTF-8, in the first bytes: the commonest file that is no picture.
bool looksLikeText(QIODevice& device) {
  const QByteArray head = device.peek(512);
  if (head.isEmpty()) return false;
  for (qsizetype i = 0; i < head.size();) {
    const auto c = uint8_t(head[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F) return false;
      ++i;
      continue;
    }
    const int follow = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
    if (follow < 0) return false;
    for (int k = 1; k <= follow; ++k)
      if (i + k < head.size() && (uint8_t(head[i + k]) & 0xC0) != 0x80) return false;
    i += 1 + follow;  // a sequence cut at the end of the sample still counts
  }
  return true;
}

// TGA has no signature, and an uncompressed one (00 00 02 00 ...) reads as a Windows cursor
}  // namespace tavrix
