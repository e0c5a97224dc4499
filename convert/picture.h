#pragma once
// A 32-bit picture: pixels are $00RRGGBB words, row by row, top row first.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrix {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  Picture() = default;
  Picture(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h), 0) {}

  uint32_t* row(int y) { return pixels.data() + size_t(y) * size_t(width); }
  const uint32_t* row(int y) const { return pixels.data() + size_t(y) * size_t(width); }
  uint32_t& at(int x, int y) { return row(y)[x]; }
  uint32_t at(int x, int y) const { return row(y)[x]; }
  bool empty() const { return width <= 0 || height <= 0; }
};

inline uint32_t rgbWord(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }
inline int redOf(uint32_t v) { return int(v >> 16 & 255); }
inline int greenOf(uint32_t v) { return int(v >> 8 & 255); }
inline int blueOf(uint32_t v) { return int(v & 255); }

}  // namespace tavrix
