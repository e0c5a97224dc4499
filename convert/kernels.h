#pragma once
// Which kernels a conversion runs: the plain ones state each algorithm readably; the fast
// ones (SIMD, both cores, exact pruning) must give the same bytes. Chosen in one place.
#include <functional>

namespace tavrix {

enum class Kernels { Plain, Fast };

// Fast, unless the environment says TAVRIX_KERNELS=plain.
Kernels defaultKernels();

// Runs body(begin, end) over [0, count) in fixed bands of `band` items, on every core.
// The bands never depend on the number of threads, so neither do the results.
void parallelBands(int count, int band, const std::function<void(int, int)>& body);

// How many bands parallelBands runs at the same time from here (1 inside a band).
int parallelWorkers();

}  // namespace tavrix
