// Picture loading through Qt's image readers. Needs no QGuiApplication: QImageReader
// finds its format plugins without one.
#include <QImage>
#include <QImageReader>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/io/image_io.h"

namespace tavrix {
namespace {

// Refuses absurd declared sizes before anything is allocated; 1 GB is a 16k x 16k picture.
constexpr int kAllocationLimitMb = 1024;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
  throw FileError(path + ": " + reason);
}

// Qt reports a missing file, a folder and an unreadable file all as "File not found";
// the file system says which one it is.
void checkReadableFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) fail(path, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) fail(path, "is a folder, not a picture file");
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) fail(path, std::strerror(errno));
  close(fd);
  if (S_ISREG(st.st_mode) && st.st_size == 0) fail(path, "empty file");
}

}  // namespace

Picture loadPicture(const std::string& path) {
  checkReadableFile(path);

  QImageReader reader(QString::fromStdString(path));
  // The content decides the format: a JPEG saved as .png still loads.
  reader.setDecideFormatFromContent(true);
  reader.setAllocationLimit(kAllocationLimitMb);
  // The picture is converted as stored; EXIF orientation is not applied.
  reader.setAutoTransform(false);

  QImage image = reader.read();
  if (image.isNull()) {
    switch (reader.error()) {
      case QImageReader::UnsupportedFormatError:
        fail(path, "not a picture in any format the image readers know");
      case QImageReader::InvalidDataError:
        fail(path, "damaged or truncated picture data (" + reader.errorString().toStdString() + ")");
      default:
        fail(path, "cannot read the picture (" + reader.errorString().toStdString() + ")");
    }
  }
  if (image.width() <= 0 || image.height() <= 0) fail(path, "the picture has no pixels");

  // Transparent pixels keep their stored colour; only red, green and blue are used.
  if (image.format() != QImage::Format_RGB32) image.convertTo(QImage::Format_RGB32);
  if (image.isNull()) fail(path, "not enough memory to convert the picture");

  Picture picture(image.width(), image.height());
  for (int y = 0; y < picture.height; ++y) {
    const auto* src = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    uint32_t* dst = picture.row(y);
    for (int x = 0; x < picture.width; ++x) dst[x] = src[x] & 0x00FFFFFFu;
  }
  return picture;
}

std::vector<std::string> readableFormats() {
  std::vector<std::string> formats;
  for (const QByteArray& format : QImageReader::supportedImageFormats())
    formats.push_back(format.toLower().toStdString());
  return formats;
}

}  // namespace tavrix
