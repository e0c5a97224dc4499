#pragma once
// Loading pictures with Qt's image readers, prescaling them to the conversion size,
// and writing results: PNG through libpng, every file through a temporary and a rename.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/picture.h"
#include "plus4/prg_image.h"

namespace tavrix {

// A failure to read or write a file; what() is one line naming the file and the reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads any picture that the installed Qt image readers know, as 32-bit $00RRGGBB pixels.
// Refuses, with a FileError, pictures over 100 megapixels or 1 GiB decoded, before decoding.
Picture loadPicture(const std::string& path);
// The same from bytes in memory; `name` stands for the file in messages.
Picture loadPictureFromMemory(const uint8_t* data, size_t size, const std::string& name);

// The lower-case file extensions (without dot) of every format the readers offer.
std::vector<std::string> readableFormats();

// The prescaling: target size by crop/fit choice, the drawing rectangle on the 4x canvas,
// nearest-pixel drawing and the 4x4 box filter.
// In 64 bits: a crop of a picture one pixel wide and two million rows tall is 2.6e9 canvas
// pixels high.
struct DrawRect {
  int64_t left = 0, top = 0, width = 0, height = 0;
  bool operator==(const DrawRect&) const = default;
};
int targetWidth(int crop);   // 320, or 327 for the 327x207 choices
int targetHeight(int crop);  // 200, or 207
DrawRect drawingRect(int width, int height, int crop);
Picture prescale(const Picture& loaded, int crop);

// PNG: truecolour 8-bit RGB, IHDR, IDAT, IEND only, zlib level 9.
std::vector<uint8_t> encodePng(const Picture& picture);

// Writes through a temporary file in the same folder and a rename, so an existing file
// is either replaced whole or left untouched. Throws FileError.
void writeFileAtomically(const std::string& path, const uint8_t* data, size_t size);

void savePng(const Picture& picture, const std::string& path);
void savePrg(const PrgImage& prg, const std::string& path);  // the first prg.length bytes

}  // namespace tavrix
