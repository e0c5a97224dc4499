// PNG encoding with libpng: truecolour RGB, 8 bits, no ancillary chunks, zlib level 9.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "app/io/image_io.h"

namespace tavrix {
namespace {

struct PngSink {
  std::vector<uint8_t>* bytes;
  char error[200];
};

void writeBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");
  }
}

void flushBytes(png_structp) {}

void onError(png_structp png, png_const_charp message) {
  auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
  std::snprintf(sink->error, sizeof sink->error, "%s", message);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp; no object with a destructor may live in this frame.
bool encodeInto(PngSink& sink, const Picture& picture, png_bytep row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onError, onWarning);
  if (!png) {
    std::snprintf(sink.error, sizeof sink.error, "cannot create the PNG writer");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    if (!info) std::snprintf(sink.error, sizeof sink.error, "cannot create the PNG writer");
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, &sink, writeBytes, flushBytes);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < picture.height; ++y) {
    const uint32_t* src = picture.row(y);
    for (int x = 0; x < picture.width; ++x) {
      row[3 * x + 0] = png_byte(src[x] >> 16);
      row[3 * x + 1] = png_byte(src[x] >> 8);
      row[3 * x + 2] = png_byte(src[x]);
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::vector<uint8_t> encodePng(const Picture& picture) {
  if (picture.empty()) throw std::invalid_argument("PNG: the picture has no pixels");
  std::vector<uint8_t> bytes;
  std::vector<png_byte> row(size_t(picture.width) * 3);
  PngSink sink{&bytes, {}};
  if (!encodeInto(sink, picture, row.data())) throw std::runtime_error(std::string("PNG: ") + sink.error);
  return bytes;
}

}  // namespace tavrix
