#include "cli/progress.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tavrix::cli {
namespace {

// A line that wraps could no longer be rewritten by '\r'.
size_t lineWidth() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) return size_t(ws.ws_col) - 1;
  return 79;
}

size_t codePoints(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// Cuts after `width` characters without splitting a UTF-8 sequence.
std::string cut(const std::string& s, size_t width) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n++ == width) return s.substr(0, i);
  }
  return s;
}

}  // namespace

void Progress::show(const std::string& text) {
  if (!enabled_) return;
  const std::string line = cut(text, lineWidth());
  const size_t width = codePoints(line);
  std::fprintf(stderr, "\r%s%*s", line.c_str(), int(shown_ > width ? shown_ - width : 0), "");
  if (shown_ > width) std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  shown_ = width;
}

void Progress::clear() {
  if (!enabled_ || shown_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", int(shown_), "");
  std::fflush(stderr);
  shown_ = 0;
}

}  // namespace tavrix::cli
