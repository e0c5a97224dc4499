// tavrix-bench: per-stage and whole-conversion times of the plain and the fast kernels,
// medians over repetitions, on a real photo. The last line is the headline case.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/io/image_io.h"
#include "convert/converter.h"

namespace {

using namespace tavrix;
using Clock = std::chrono::steady_clock;

struct Run {
  double total = 0;
  std::vector<std::pair<std::string, double>> stages;
};

Run convertOnce(const Picture& source, const ConversionSettings& settings, Kernels kernels) {
  QuietHost host;
  host.settings = settings;
  Random random(1);
  ConversionOutput out;
  Converter converter(host, random, kernels);
  Run run;
  Clock::time_point last = Clock::now(), start = last;
  converter.setStageObserver([&](const char* name) {
    Clock::time_point now = Clock::now();
    run.stages.emplace_back(name, std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
  });
  converter.run(source, out);
  run.total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return run;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Summary {
  double total;
  std::vector<std::pair<std::string, double>> stages;  // medians, in stage order
};

Summary summarize(const std::vector<Run>& runs) {
  Summary s;
  std::vector<double> totals;
  for (const Run& r : runs) totals.push_back(r.total);
  s.total = median(totals);
  for (size_t i = 0; i < runs[0].stages.size(); ++i) {
    std::vector<double> v;
    for (const Run& r : runs) v.push_back(r.stages[i].second);
    s.stages.emplace_back(runs[0].stages[i].first, median(v));
  }
  return s;
}

// The fast runs are spread between the plain ones, so that both medians come from the same
// stretch of time: on a shared machine the capacity of the second core comes and goes, and
// a block of fast runs could otherwise fall wholly into a good or a bad moment.
std::pair<Summary, Summary> measure(const Picture& source, const ConversionSettings& settings, int plainReps,
                                    int fastReps) {
  std::vector<Run> plain, fast;
  for (int i = 0; i < plainReps; ++i) {
    plain.push_back(convertOnce(source, settings, Kernels::Plain));
    for (int k = i * fastReps / plainReps; k < (i + 1) * fastReps / plainReps; ++k)
      fast.push_back(convertOnce(source, settings, Kernels::Fast));
  }
  return {summarize(plain), summarize(fast)};
}

struct Case {
  const char* name;
  int crop;
  ConversionSettings settings;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string photo = argc > 1 ? argv[1] : TAVRIX_SAMPLES "/coffee.png";
  const int plainReps = argc > 2 ? std::atoi(argv[2]) : 5;
  const int fastReps = argc > 3 ? std::atoi(argv[3]) : 25;
  if (plainReps < 1 || fastReps < plainReps) {
    std::fprintf(stderr, "usage: tavrix-bench [PHOTO [PLAIN-RUNS >= 1 [FAST-RUNS >= PLAIN-RUNS]]]\n");
    return 2;
  }
  Picture loaded = loadPicture(photo);

  ConversionSettings every;  // every option at its highest level, Floyd-Steinberg
  every.outputMode = 3;
  every.dither = 1;
  every.oversaturatePercent = 200;
  every.sharpen = 2;
  every.colorRange = 2;
  every.hdr = 2;
  auto mode = [](int m) {
    ConversionSettings s;
    s.outputMode = m;
    return s;
  };
  const Case cases[] = {
      {"normal, defaults, 320x200 crop", 0, mode(0)},
      {"qfli, defaults, 320x200 crop", 0, mode(1)},
      {"dfli, defaults, 320x200 crop", 0, mode(2)},
      {"xs-dfli, every option highest, floyd-steinberg, 327x207 crop", 2, every},
  };
  std::printf("photo %s, medians of %d plain and %d fast runs\n", photo.c_str(), plainReps, fastReps);
  Summary headPlain{}, headFast{};
  for (const Case& c : cases) {
    Picture source = prescale(loaded, c.crop);
    const auto [plain, fast] = measure(source, c.settings, plainReps, fastReps);
    std::printf("\n%s\n  %-30s %10s %10s %8s\n", c.name, "stage", "plain ms", "fast ms", "ratio");
    for (size_t i = 0; i < plain.stages.size(); ++i) {
      double p = plain.stages[i].second, f = fast.stages[i].second;
      // A stage that a kernel set leaves to a later one (or skips) has no meaningful ratio.
      if (p < 0.05 || f < 0.05)
        std::printf("  %-30s %10.2f %10.2f %8s\n", plain.stages[i].first.c_str(), p, f, "-");
      else
        std::printf("  %-30s %10.2f %10.2f %8.1f\n", plain.stages[i].first.c_str(), p, f, p / f);
    }
    std::printf("  %-30s %10.2f %10.2f %8.1f\n", "whole conversion", plain.total, fast.total, plain.total / fast.total);
    headPlain = plain;
    headFast = fast;
  }
  std::printf("\nwhole conversion: plain %.0f ms, fast %.1f ms, ratio %.1f\n", headPlain.total, headFast.total,
              headPlain.total / headFast.total);
  return 0;
}
