#include "cli/batch.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <future>
#include <memory>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>
#include <sys/stat.h>
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

// Checked before converting, which takes seconds, so an output that cannot be written
// costs no conversion and leaves no half of a pair behind. The writers still report
// whatever fails later (a full disk). The default names put NAME.png beside the input
// when it is in the current folder.
void checkOutputs(const Job& job) {
  for (const std::string& out : {job.prgPath, job.pngPath}) {
    if (out.empty()) continue;
    std::error_code ec;
    if (fs::is_directory(out, ec) || out.back() == '/') throw FileError(out + ": " + std::strerror(EISDIR));
    const std::string folder = fs::path(out).parent_path().empty() ? "." : fs::path(out).parent_path().string();
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) throw FileError(out + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) throw FileError(out + ": " + std::strerror(ENOTDIR));
    if (access(folder.c_str(), W_OK | X_OK) != 0) throw FileError(out + ": " + std::strerror(errno));
    if (fs::equivalent(job.input, out, ec))
      throw std::runtime_error("the output " + out + " would replace the input; name another with -o DIR, --prg or --png");
  }
}

// One picture's way through the batch: loaded and prescaled ahead on a helper thread,
// converted in input order on this one (so the random dither's sequence is the same as
// one picture after the other), written behind on a helper thread.
struct Loaded {
  Picture source;
  std::exception_ptr error;
};

Loaded loadAhead(const Job& job, int crop) {
  Loaded l;
  try {
    checkOutputs(job);
    l.source = prescale(loadPicture(job.input), crop);
  } catch (...) {
    l.error = std::current_exception();
  }
  return l;
}

std::exception_ptr writeBehind(const Job& job, const ConversionOutput& out) {
  try {
    if (!job.prgPath.empty()) savePrg(out.prgImage, job.prgPath);
    if (!job.pngPath.empty()) savePng(*out.resultImage, job.pngPath);
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

// Reports a failure of `job` on one line; returns the exit status it stands for.
int reportFailure(const Job& job, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const FileError& e) {
    report(e.what());
  } catch (const std::bad_alloc&) {
    report(job.input + ": out of memory");
  } catch (const std::exception& e) {
    report(job.input + ": " + e.what());
  }
  return 1;
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
  if (jobs.empty()) return status;
  std::future<Loaded> ahead = std::async(std::launch::async, loadAhead, std::cref(jobs[0]), options.selectors.crop);
  std::future<std::exception_ptr> behind;
  std::unique_ptr<ConversionOutput> writing;  // the output `behind` is writing
  const Job* writingJob = nullptr;
  auto finishWriting = [&] {
    if (!behind.valid()) return;
    if (std::exception_ptr e = behind.get()) status = reportFailure(*writingJob, e);
    writing.reset();
  };
  for (size_t i = 0; i < jobs.size(); ++i) {
    const Job& job = jobs[i];
    Loaded loaded = ahead.get();
    if (i + 1 < jobs.size())
      ahead = std::async(std::launch::async, loadAhead, std::cref(jobs[i + 1]), options.selectors.crop);
    auto out = std::make_unique<ConversionOutput>();
    std::exception_ptr error = loaded.error;
    if (!error) {
      try {
        const std::string name = fs::path(job.input).filename().string();
        CliHost host(settings, progress, name);
        Converter(host, random, options.kernels).run(loaded.source, *out);
        if (out->prgImage.length <= 0 || !out->resultImage) throw std::runtime_error("the conversion did not finish");
      } catch (...) {
        error = std::current_exception();
      }
    }
    progress.clear();
    finishWriting();  // the previous picture's messages come before this one's
    if (error) {
      status = reportFailure(job, error);
      continue;
    }
    writing = std::move(out);
    writingJob = &job;
    behind = std::async(std::launch::async, writeBehind, std::cref(job), std::cref(*writing));
  }
  finishWriting();
  return status;
}

}  // namespace tavrix::cli
