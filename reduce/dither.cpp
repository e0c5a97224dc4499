#include "reduce/dither.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "convert/lab_distances.h"
#include "convert/memo.h"

namespace tavrix {

const int kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

namespace {

void setLab(float* dst, const float* lab) {
  for (int c = 0; c < 3; ++c) dst[c] = lab[c];
}

// Adds n/16 of the error to a neighbour's working colour.
void diffuse(float* w, const float e[3], int n) {
  for (int c = 0; c < 3; ++c) w[c] = float(double(w[c]) + double(e[c]) * n / 16);
}

// One pixel of "No dither" / "Floyd-Steinberg"; the nearest search is the plain loop or,
// with the fast kernels, the shared lane kernel (the same first least entry).
void clampedOrDiffusedPixel(ConversionState& s, int y, int x, bool floydSteinberg, const PaletteLabSoA* lanes) {
  const int h = s.height(), w = s.width();
  float* cur = s.work.working(y, x);
  auto lab = linearToLab(std::clamp(cur[0], 0.0f, 1.0f), std::clamp(cur[1], 0.0f, 1.0f), std::clamp(cur[2], 0.0f, 1.0f));
  float* out = s.labPairs.dithered(y, x);
  if (!floydSteinberg) {
    setLab(out, lab.data());
    return;
  }
  int p = kFirstEntry;
  if (lanes) {
    p = nearestLab(*lanes, lab.data(), false, float(1e15), kFirstEntry);
  } else {
    float best = float(1e15);
    for (int j = kFirstEntry; j <= kLastEntry; ++j) {
      float d = labDistanceSquared(lab.data(), s.palette.lab[j]);
      if (d < best) {
        best = d;
        p = j;
      }
    }
  }
  setLab(out, s.palette.lab[p]);
  // The error is measured in linear RGB from the unclamped colour, though p was chosen in Lab.
  const float* shown = s.palette.display(p);
  float e[3];
  for (int c = 0; c < 3; ++c) e[c] = float(double(cur[c]) - shown[c]);
  if (x < w - 1) diffuse(s.work.working(y, x + 1), e, 7);
  if (y < h - 1) {
    if (x > 0) diffuse(s.work.working(y + 1, x - 1), e, 3);
    diffuse(s.work.working(y + 1, x), e, 5);
    if (x < w - 1) diffuse(s.work.working(y + 1, x + 1), e, 1);
  }
}

// Runs rows [y0, y1) of a pass whose pixels do not depend on each other on every core
// with the fast kernels.
void eachRow(const ConversionState& s, const std::function<void(int, int)>& rows) {
  if (s.kernels == Kernels::Fast)
    parallelBands(s.height(), 8, rows);
  else
    rows(0, s.height());
}

// Floyd-Steinberg on two cores, bit-exact with the scan-order loop: even rows on one, odd
// rows on the other. Pixel (x, y) waits until row y - 1 has finished pixel x + 2: by then
// every pixel that adds to (x, y) or to (x + 1, y) from the row above has done so, so
// every pixel receives its additions in exactly the scan order's sequence.
void floydSteinbergWavefront(ConversionState& s) {
  const PaletteLabSoA lanes(s.palette);
  const int h = s.height(), w = s.width();
  std::vector<std::atomic<int>> done(static_cast<size_t>(h));
  for (auto& d : done) d.store(0, std::memory_order_relaxed);
  parallelBands(2, 1, [&](int first, int end) {
    for (int start = first; start < end; ++start)
      for (int y = start; y < h; y += 2)
        for (int x = 0; x < w; ++x) {
          if (y > 0) {
            const int need = std::min(x + 3, w);
            // The row above is usually just ahead: spin briefly, then let the system run it.
            for (int spins = 0; done[size_t(y - 1)].load(std::memory_order_acquire) < need; ++spins)
              if (spins < 4096)
                _mm_pause();
              else
                std::this_thread::yield();
          }
          clampedOrDiffusedPixel(s, y, x, true, &lanes);
          done[size_t(y)].store(x + 1, std::memory_order_release);
        }
  });
}

}  // namespace

void buildLabPairs(ConversionState& s, Random& random) {
  const int w = s.width();
  const bool fast = s.kernels == Kernels::Fast;
  eachRow(s, [&](int y0, int y1) {
    static thread_local LabMemo memo;  // mixed colours repeat; the fast kernels look them up
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x) {
        const float* m = s.work.working(y, x);
        auto lab = fast ? memo(m[0], m[1], m[2]) : linearToLab(m[0], m[1], m[2]);
        setLab(s.labPairs.mixed(y, x), lab.data());
      }
  });

  const int dither = s.settings.dither;
  if (dither == 3 || dither == 2) {
    // One draw per pixel in scan order: the random pass stays on one core.
    for (int y = 0; y < s.height(); ++y)
      for (int x = 0; x < w; ++x) {
        int k = dither == 3 ? random.next16() : kBayer4[y % 4][x % 4];
        setLab(s.labPairs.dithered(y, x), s.palette.lab[s.candidates.at(y, x)[k]]);
      }
  } else if (dither == 1) {
    if (s.kernels == Kernels::Fast && parallelWorkers() >= 2) {
      floydSteinbergWavefront(s);
    } else {
      // Each pixel takes the error of the ones before it: in scan order.
      const PaletteLabSoA lanes(s.palette);
      const bool fast = s.kernels == Kernels::Fast;
      for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < w; ++x) clampedOrDiffusedPixel(s, y, x, true, fast ? &lanes : nullptr);
    }
  } else {
    // "No dither" for every other value (-1 included).
    eachRow(s, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y)
        for (int x = 0; x < w; ++x) clampedOrDiffusedPixel(s, y, x, false, nullptr);
    });
  }

  eachRow(s, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < w; ++x) {
        float* p = s.labPairs.at(y, x);
        for (int k = 0; k < 3; ++k) p[k] = float(0.5 * p[k] + 0.5 * p[k + 3]);
      }
  });
}

}  // namespace tavrix
