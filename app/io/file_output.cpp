// Writing files whole or not at all: a temporary beside the target, fsync, rename.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/io/image_io.h"

namespace tavrix {
namespace {

[[noreturn]] void fail(const std::string& path, int error) { throw FileError(path + ": " + std::strerror(error)); }

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens a new, unique temporary beside `path`. O_CREAT with mode 0666 gives it the
// permissions of any newly created file (the umask applies), unlike mkstemp's 0600.
int createTemporary(const std::string& path, std::string& tempPath) {
  const size_t slash = path.rfind('/');
  const std::string prefix = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
                             path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::mt19937_64 pick(std::random_device{}() ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = prefix;
    for (int i = 0; i < 6; ++i) tempPath += kChars[pick() % (sizeof kChars - 1)];
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

void writeFileAtomically(const std::string& path, const uint8_t* data, size_t size) {
  if (path.empty()) throw FileError("(no file name): " + std::string(std::strerror(ENOENT)));
  struct stat existing {};
  const bool replacing = stat(path.c_str(), &existing) == 0;
  if ((replacing && S_ISDIR(existing.st_mode)) || path.back() == '/') fail(path, EISDIR);
  // Writing through the link keeps the link; a rename over it would replace it.
  std::string target = path;
  if (char* real = realpath(path.c_str(), nullptr)) {
    target = real;
    free(real);
  }

  std::string tempPath;
  const int fd = createTemporary(target, tempPath);
  if (fd < 0) fail(path, errno);

  int error = 0;
  // Replacing a file keeps its permissions, as overwriting it in place would.
  if (replacing && fchmod(fd, existing.st_mode & 07777) != 0) error = errno;
  for (size_t done = 0; error == 0 && done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    else done += size_t(n);
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(tempPath.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(tempPath.c_str());
    fail(path, error);
  }

  // Makes the rename itself durable; the file is complete either way.
  const int folder = open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
}

void savePng(const Picture& picture, const std::string& path) {
  const std::vector<uint8_t> bytes = encodePng(picture);
  writeFileAtomically(path, bytes.data(), bytes.size());
}

void savePrg(const PrgImage& prg, const std::string& path) {
  if (prg.length <= 0 || prg.length > kPrgImageSize)
    throw FileError(path + ": nothing to save, the conversion has not finished");
  writeFileAtomically(path, prg.bytes.data(), size_t(prg.length));
}

}  // namespace tavrix
