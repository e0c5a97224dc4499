// Picture loading through Qt's image readers. Needs no QGuiApplication: QImageReader
// finds its format plugins without one.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "app/io/image_io.h"
#include "app/io/picture_checks.h"

namespace tavrix {
namespace {

// Qt's own guard behind the checks of declared sizes.
constexpr int kAllocationLimitMb = int(kMaxDecodedBytes >> 20);

// Qt reports a missing file, a folder and an unreadable file all as "File not found";
// the file system says which one it is. Pipes and devices are refused unopened: reading
// them may never end, and opening some devices does something.
void checkReadableFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    const int error = errno;
    struct stat link {};
    if (error == ENOENT && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      std::string target(4096, '\0');
      const ssize_t n = readlink(path.c_str(), target.data(), target.size());
      target.resize(n > 0 ? size_t(n) : 0);
      failToLoad(path, "a dangling symbolic link to " + target);
    }
    failToLoad(path, std::strerror(error));
  }
  if (S_ISDIR(st.st_mode)) failToLoad(path, "is a folder, not a picture file");
  if (S_ISFIFO(st.st_mode)) failToLoad(path, "is a named pipe, not a picture file");
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) failToLoad(path, "is a device, not a picture file");
  if (!S_ISREG(st.st_mode)) failToLoad(path, "is a socket, not a picture file");
  if (st.st_size == 0) failToLoad(path, "empty file");
}

// The header's declared size, checked before the pixels are decoded.
void checkDeclaredSize(QImageReader& reader, const std::string& name) {
  const QSize size = reader.size();
  if (!size.isValid()) return;  // the format cannot tell before decoding; the allocation limit still holds
  const int bits = reader.imageFormat() == QImage::Format_Invalid
                       ? 32
                       : std::max(32, int(QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel()));
  checkSize(name, size.width(), size.height(), bits / 8);
}

// libtiff prints its errors and warnings on stderr unless the program sets handlers, and
// Qt's TIFF plugin sets none. The library comes with the plugin, so the handlers are set
// once the plugin is loaded; the first error of a read is kept for the message.
thread_local std::string* tiffError = nullptr;

void onTiffError(const char*, const char* format, va_list args) {
  if (!tiffError || !tiffError->empty()) return;
  char text[300];
  std::vsnprintf(text, sizeof text, format, args);
  std::string message = text;
  // Qt opens every TIFF under the stand-in name "foo".
  if (message.rfind("foo: ", 0) == 0) message.erase(0, 5);
  *tiffError = message;
}

void onTiffWarning(const char*, const char*, va_list) {}

void quietTiff() {
  static std::mutex m;
  static bool done = false;
  std::lock_guard<std::mutex> lock(m);
  if (done) return;
  using Handler = void (*)(const char*, const char*, va_list);
  using SetHandler = Handler (*)(Handler);
  for (const char* soname : {"libtiff.so.6", "libtiff.so.5"}) {
    void* lib = dlopen(soname, RTLD_LAZY | RTLD_NOLOAD);
    if (!lib) continue;
    auto setError = reinterpret_cast<SetHandler>(dlsym(lib, "TIFFSetErrorHandler"));
    auto setWarning = reinterpret_cast<SetHandler>(dlsym(lib, "TIFFSetWarningHandler"));
    if (setError) setError(onTiffError);
    if (setWarning) setWarning(onTiffWarning);
    dlclose(lib);  // gives back only this reference; the plugin keeps the library
    done = true;
    return;
  }
}
// by its content. When the content's format fails, the format the name gives has a turn.
QImage readBySuffix(QIODevice& device, const std::string& name, const QByteArray& triedFormat) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return {};
  const QByteArray suffix = QByteArray::fromStdString(name.substr(dot + 1)).toLower();
  if (suffix.isEmpty() || suffix == triedFormat || !QImageReader::supportedImageFormats().contains(suffix)) return {};
  if (!device.seek(0)) return {};
  QImageReader reader(&device, suffix);
  reader.setDecideFormatFromContent(false);
  reader.setAllocationLimit(kAllocationLimitMb);
  reader.setAutoTransform(false);
  if (!reader.canRead()) return {};
  checkDeclaredSize(reader, name);
  return reader.read();
}

Picture decodePicture(QIODevice& device, const std::string& name) {
  checkStructure(device, name);
  QImageReader reader(&device);
  // The content decides the format: a JPEG saved as .png still loads.
  reader.setDecideFormatFromContent(true);
  reader.setAllocationLimit(kAllocationLimitMb);
  // The picture is converted as stored; EXIF orientation is not applied.
  reader.setAutoTransform(false);
  if (!reader.canRead()) {
    if (reader.error() == QImageReader::UnsupportedFormatError || reader.format().isEmpty()) {
      device.seek(0);
      failToLoad(name, looksLikeText(device) ? "a text file, not a picture"
                                       : "not a picture in any format the image readers know");
    }
  }
  std::string libraryError;
  if (reader.format() == "tiff") {
    quietTiff();
    tiffError = &libraryError;
  }
  struct Restore {
    ~Restore() { tiffError = nullptr; }
  } restore;
  checkDeclaredSize(reader, name);

  QImage image = reader.read();
  if (image.isNull()) image = readBySuffix(device, name, reader.format());
  if (image.isNull()) {
    switch (reader.error()) {
      case QImageReader::UnsupportedFormatError:
        failToLoad(name, "not a picture in any format the image readers know");
      case QImageReader::InvalidDataError:
        failToLoad(name, "damaged or truncated picture data (" +
                       (libraryError.empty() ? reader.errorString().toStdString() : libraryError) + ")");
      default:
        failToLoad(name, "cannot read the picture (" + reader.errorString().toStdString() + ")");
    }
  }
  checkSize(name, image.width(), image.height(), 4);

  // Transparent pixels keep their stored colour; only red, green and blue are used.
  if (image.format() != QImage::Format_RGB32) image.convertTo(QImage::Format_RGB32);
  if (image.isNull()) failToLoad(name, "not enough memory to convert the picture");

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
  // What was checked must be what is read: a file swapped for a pipe in between would block.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) failToLoad(path, std::strerror(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    failToLoad(path, "is no longer a regular file");
  }
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    close(fd);
    failToLoad(path, file.errorString().toStdString());
  }
  return decodePicture(file, path);
}

Picture loadPictureFromMemory(const uint8_t* data, size_t size, const std::string& name) {
  if (size == 0) failToLoad(name, "empty file");
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
