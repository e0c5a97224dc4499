#pragma once
// One status line on a terminal, rewritten in place; silent when disabled.
#include <cstddef>
#include <string>

namespace tavrix::cli {

class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled) {}
  void show(const std::string& text);
  void clear();

 private:
  bool enabled_;
  size_t shown_ = 0;  // characters now on the line
};

}  // namespace tavrix::cli
