#pragma once
// The conversion driver: one fixed order of stages over ConversionState. It reaches the
// window (or the command line, or a test) only through Host.
#include <functional>
#include <optional>
#include <string>

#include "convert/kernels.h"
#include "convert/picture.h"
#include "convert/random.h"
#include "convert/state.h"
#include "plus4/prg_image.h"

namespace tavrix {

enum class Pump { No, Yes };

class Host {
 public:
  virtual ~Host() = default;
  virtual ConversionSettings readSettings() = 0;
  // The five buttons "Load and convert", "Convert again", "Save .PNG image",
  // "Save plus4 .prg" and "Save data only", switched together in that order.
  virtual void setButtonsEnabled(bool enabled) = 0;
  // Sets the status; with Pump::Yes the host then handles its pending events once.
  virtual void showStatus(const std::string& text, Pump pump) = 0;
  // Redraws the result picture at once, as far as the conversion has written it.
  virtual void repaint() = 0;
};

// A host no one watches: fixed settings, nothing shown (the benchmark, the fuzzer).
struct QuietHost : Host {
  ConversionSettings settings;
  ConversionSettings readSettings() override { return settings; }
  void setButtonsEnabled(bool) override {}
  void showStatus(const std::string&, Pump) override {}
  void repaint() override {}
};

// What outlives a conversion: ResultImage and PrgImage (with PrgLength).
struct ConversionOutput {
  std::optional<Picture> resultImage;
  PrgImage prgImage;
};

class Converter {
 public:
  Converter(Host& host, Random& random, Kernels kernels = defaultKernels())
      : host_(host), random_(random), kernels_(kernels) {}

  // Called with each stage's name as it ends; the benchmark times stages with it.
  void setStageObserver(std::function<void(const char*)> observer) { observer_ = std::move(observer); }

  // Converts `source` (320x200 or 327x207) into out.resultImage and out.prgImage.
  // Throws on failure (for example memory exhausted); out.prgImage.length is then 0.
  void run(const Picture& source, ConversionOutput& out);

 private:
  Host& host_;
  Random& random_;
  Kernels kernels_;
  std::function<void(const char*)> observer_;

  void stageDone(const char* name) {
    if (observer_) observer_(name);
  }
};

}  // namespace tavrix
