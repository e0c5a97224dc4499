#pragma once
// The command line of tavrix-cli: one table of options, parsed into the selector
// indices the window would hold, plus the batch's inputs and outputs.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/kernels.h"
#include "convert/state.h"

namespace tavrix::cli {

// A malformed command line; exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  SelectorIndices selectors;
  std::optional<uint64_t> seed;
  Kernels kernels = defaultKernels();
  std::string prgPath, pngPath, outputDir;
  bool quiet = false, help = false, version = false;
  std::vector<std::string> inputs;
};

// One input and where its results go; an empty path is not written.
struct Job {
  std::string input, prgPath, pngPath;
};

Options parseOptions(int argc, const char* const* argv);  // throws UsageError
std::vector<Job> planJobs(const Options& options);         // throws UsageError
std::string helpText();

}  // namespace tavrix::cli
