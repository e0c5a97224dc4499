#include "cli/batch.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>
#include <unistd.h>

#include "app/io/image_io.h"
#include "cli/progress.h"
#include "convert/converter.h"
#include "convert/random.h"

namespace tavrix::cli {
namespace {

namespace fs = std::filesystem;

class CliHost : public Host {
 public:
  CliHost(const ConversionSettings& settings, Progress& progress, std::string name)
      : settings_(settings), progress_(progress), name_(std::move(name)) {}

  ConversionSettings readSettings() override { return settings_; }
  void setButtonsEnabled(bool) override {}
  void showStatus(const std::string& text, Pump) override { progress_.show(name_ + ": " + text); }
  void repaint() override {}

 private:
  ConversionSettings settings_;
  Progress& progress_;
  std::string name_;
};

void report(const std::string& message) { std::fprintf(stderr, "tavrix-cli: %s\n", message.c_str()); }

// Checked before converting, which takes seconds. The default names put NAME.png
// beside the input when it is in the current folder.
void checkOutputs(const Job& job) {
  for (const std::string& out : {job.prgPath, job.pngPath}) {
    std::error_code ec;
    if (out.empty()) continue;
    if (fs::is_directory(out, ec)) throw FileError(out + ": is a folder");
    if (fs::equivalent(job.input, out, ec))
      throw std::runtime_error("the output " + out + " would replace the input; name another with -o DIR, --prg or --png");
  }
}

void convertOne(const Job& job, const ConversionSettings& settings, int crop, Random& random, Progress& progress) {
  checkOutputs(job);
  const std::string name = fs::path(job.input).filename().string();
  progress.show(name + ": Loading image.");
  Picture source = prescale(loadPicture(job.input), crop);

  CliHost host(settings, progress, name);
  ConversionOutput out;
  Converter(host, random).run(source, out);
  if (out.prgImage.length <= 0 || !out.resultImage) throw std::runtime_error("the conversion did not finish");

  if (!job.prgPath.empty()) savePrg(out.prgImage, job.prgPath);
  if (!job.pngPath.empty()) savePng(*out.resultImage, job.pngPath);
}

}  // namespace

int runBatch(const Options& options) {
  const std::vector<Job> jobs = planJobs(options);
  Progress progress(!options.quiet && isatty(STDERR_FILENO));
  const ConversionSettings settings = conversionSettings(options.selectors);
  // One generator for the whole run: the random dither carries on from picture to picture.
  Random random(options.seed ? *options.seed
                             : uint64_t(std::chrono::system_clock::now().time_since_epoch().count()));

  if (!options.outputDir.empty()) {
    std::error_code ec;
    fs::create_directories(options.outputDir, ec);
    if (ec) {
      report(options.outputDir + ": " + ec.message());
      return 1;
    }
  }

  int status = 0;
  for (const Job& job : jobs) {
    try {
      convertOne(job, settings, options.selectors.crop, random, progress);
      progress.clear();
    } catch (const FileError& e) {
      progress.clear();
      report(e.what());
      status = 1;
    } catch (const std::bad_alloc&) {
      progress.clear();
      report(job.input + ": out of memory");
      status = 1;
    } catch (const std::exception& e) {
      progress.clear();
      report(job.input + ": " + e.what());
      status = 1;
    }
  }
  return status;
}

}  // namespace tavrix::cli
