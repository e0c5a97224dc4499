#pragma once
// Shared fixtures: a host that records what the driver reports, and small pictures.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "convert/converter.h"

namespace tavrix::testing {

struct RecordingHost : Host {
  ConversionSettings settings;
  std::vector<std::string> events;  // "status:<text>:pump|nopump", "buttons:on|off", "repaint"
  ConversionOutput* output = nullptr;
  std::vector<int> repaintedResultWidths;  // 0 when no result image existed at the repaint

  ConversionSettings readSettings() override { return settings; }
  void setButtonsEnabled(bool on) override { events.push_back(on ? "buttons:on" : "buttons:off"); }
  void showStatus(const std::string& text, Pump pump) override {
    events.push_back("status:" + text + (pump == Pump::Yes ? ":pump" : ":nopump"));
  }
  void repaint() override {
    events.push_back("repaint");
    if (output) repaintedResultWidths.push_back(output->resultImage ? output->resultImage->width : 0);
  }
};

// The whole content of a file ("" when it cannot be read).
inline std::string readAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeAll(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// A new, empty folder of its own under the system's temporary folder ("" if none can be made).
inline std::filesystem::path makeTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  return mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
}

// A deterministic colourful test picture: smooth gradients with sharp blocks.
inline Picture syntheticPicture(int w, int h, unsigned seed = 1) {
  Picture p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int r = (x * 255) / (w - 1), g = (y * 255) / (h - 1), b = ((x + y) * 7 + int(seed) * 31) & 255;
      if (((x / 37) + (y / 23)) % 5 == 0) std::swap(r, b);
      p.at(x, y) = rgbWord(r, g, b);
    }
  return p;
}

// Runs a whole conversion of `source` with `settings`.
inline ConversionOutput convertPicture(const Picture& source, const ConversionSettings& settings,
                                       uint64_t seed = 7) {
  RecordingHost host;
  host.settings = settings;
  ConversionOutput out;
  Random random(seed);
  Converter(host, random).run(source, out);
  return out;
}

}  // namespace tavrix::testing
