#pragma once
// What Qt's image readers would not notice or not explain about a picture file, told from
// its own structure: cut JPEG, GIF, BMP and PNG files, damaged PNG data (with libpng's
// reason), sizes beyond the limits, text.
#include <QIODevice>

#include <string>

namespace tavrix {

// Limits for any picture, checked before it is decoded: a header may declare any size, and
// a few hundred bytes can claim gigapixels.
inline constexpr long long kMaxPixels = 100'000'000;
inline constexpr long long kMaxDecodedBytes = 1LL << 30;

// Throws FileError "name: reason".
[[noreturn]] void failToLoad(const std::string& name, const std::string& reason);

// Refuses a picture with no pixels, more than 100 megapixels, or more than 1 GiB decoded.
void checkSize(const std::string& name, long long width, long long height, int bytesPerPixel);

// Walks the file's structure and fails with the reason; leaves the device at its start.
void checkStructure(QIODevice& device, const std::string& name);

// Plain text, ASCII or UTF-8, in the first bytes: the commonest file that is no picture.
bool looksLikeText(QIODevice& device);

}  // namespace tavrix
