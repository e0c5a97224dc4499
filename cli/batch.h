#pragma once
#include "cli/options.h"

namespace tavrix::cli {

// Converts every input in order and writes its results; reports each failure on
// stderr and carries on. Returns the exit status: 0, or 1 when any input failed.
int runBatch(const Options& options);

}  // namespace tavrix::cli
