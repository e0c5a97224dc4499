// Picture loading through Qt's image readers. Needs no QGuiApplication: QImageReader
// finds its format plugins without one.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/io/image_io.h"

namespace tavrix {
namespace {

// Refuses absurd pictures before anything is allocated: a header may declare any size,
// and a few hundred bytes can claim gigapixels.
constexpr long long kMaxPixels = 100'000'000;
constexpr long long kMaxDecodedBytes = 1LL << 30;
constexpr int kAllocationLimitMb = int(kMaxDecodedBytes >> 20);

[[noreturn]] void fail(const std::string& name, const std::string& reason) {
  throw FileError(name + ": " + reason);
}

// Qt reports a missing file, a folder and an unreadable file all as "File not found";
// the file system says which one it is. Pipes and devices are refused: they may never end.
void checkReadableFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) fail(path, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) fail(path, "is a folder, not a picture file");
  if (!S_ISREG(st.st_mode)) fail(path, "is not a regular file (a device, pipe or socket)");
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) fail(path, std::strerror(errno));
  close(fd);
  if (st.st_size == 0) fail(path, "empty file");
}

std::string sizeText(QSize size) { return std::to_string(size.width()) + "x" + std::to_string(size.height()); }

// The header's declared size, checked before the pixels are decoded.
void checkDeclaredSize(QImageReader& reader, const std::string& name) {
  const QSize size = reader.size();
  if (!size.isValid()) return;  // the format cannot tell before decoding; the allocation limit still holds
  if (size.isEmpty()) fail(name, "the picture has no pixels (" + sizeText(size) + ")");
  const long long pixels = (long long)size.width() * size.height();
  if (pixels > kMaxPixels)
    fail(name, "too large: " + sizeText(size) + " is more than 100 megapixels");
  const int bits = reader.imageFormat() == QImage::Format_Invalid
                       ? 32
                       : std::max(32, int(QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel()));
  if (pixels * (bits / 8) > kMaxDecodedBytes)
    fail(name, "too large: " + sizeText(size) + " would take more than 1 GiB to decode");
}

Picture decodePicture(QIODevice& device, const std::string& name) {
  QImageReader reader(&device);
  // The content decides the format: a JPEG saved as .png still loads.
  reader.setDecideFormatFromContent(true);
  reader.setAllocationLimit(kAllocationLimitMb);
  // The picture is converted as stored; EXIF orientation is not applied.
  reader.setAutoTransform(false);
  if (!reader.canRead()) {
    if (reader.error() == QImageReader::UnsupportedFormatError || reader.format().isEmpty())
      fail(name, "not a picture in any format the image readers know");
  }
  checkDeclaredSize(reader, name);

  QImage image = reader.read();
  if (image.isNull()) {
    switch (reader.error()) {
      case QImageReader::UnsupportedFormatError:
        fail(name, "not a picture in any format the image readers know");
      case QImageReader::InvalidDataError:
        fail(name, "damaged or truncated picture data (" + reader.errorString().toStdString() + ")");
      default:
        fail(name, "cannot read the picture (" + reader.errorString().toStdString() + ")");
    }
  }
  if (image.width() <= 0 || image.height() <= 0) fail(name, "the picture has no pixels");
  if ((long long)image.width() * image.height() > kMaxPixels)
    fail(name, "too large: " + sizeText(image.size()) + " is more than 100 megapixels");

  // Transparent pixels keep their stored colour; only red, green and blue are used.
  if (image.format() != QImage::Format_RGB32) image.convertTo(QImage::Format_RGB32);
  if (image.isNull()) fail(name, "not enough memory to convert the picture");

  Picture picture(image.width(), image.height());
  for (int y = 0; y < picture.height; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    uint32_t* dst = picture.row(y);
    for (int x = 0; x < picture.width; ++x) dst[x] = src[x] & 0x00FFFFFFu;
  }
  return picture;
}

}  // namespace

Picture loadPicture(const std::string& path) {
  checkReadableFile(path);
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) fail(path, file.errorString().toStdString());
  return decodePicture(file, path);
}

Picture loadPictureFromMemory(const uint8_t* data, size_t size, const std::string& name) {
  if (size == 0) fail(name, "empty file");
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  return decodePicture(buffer, name);
}

std::vector<std::string> readableFormats() {
  std::vector<std::string> formats;
  for (const QByteArray& format : QImageReader::supportedImageFormats())
    formats.push_back(format.toLower().toStdString());
  return formats;
}

}  // namespace tavrix
