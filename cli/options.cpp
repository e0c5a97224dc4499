#include "cli/options.h"

#include <charconv>
#include <filesystem>
#include <map>
#include <string_view>

namespace tavrix::cli {
namespace {

// The selectors, each value in item order: the value's position is the item index.
struct Selector {
  const char* name;
  int SelectorIndices::*field;
  std::vector<std::string_view> values;
};

const Selector kSelectors[] = {
    {"crop", &SelectorIndices::crop, {"320x200-crop", "320x200-fit", "327x207-crop", "327x207-fit"}},
    {"mode", &SelectorIndices::outputMode, {"normal", "qfli", "dfli", "xs-dfli"}},
    {"dither", &SelectorIndices::dither, {"none", "floyd-steinberg", "pattern", "random"}},
    {"oversaturate", &SelectorIndices::oversaturate, {"none", "low", "mid", "hi", "max"}},
    {"sharpen", &SelectorIndices::sharpen, {"none", "low", "hi"}},
    {"hdr", &SelectorIndices::hdr, {"none", "low", "hi"}},
    {"color-range", &SelectorIndices::colorRange, {"normal", "high", "max"}},
    {"colormap", &SelectorIndices::colormap, {"absolute", "relative"}},
};

enum class Kind { Seed, Kernels, Prg, Png, OutputDir, Quiet, Help, Version };

struct Plain {
  const char* name;
  char shortName;  // 0: none
  Kind kind;
  bool takesValue;
};

const Plain kPlain[] = {
    {"seed", 0, Kind::Seed, true},          {"kernels", 0, Kind::Kernels, true},
    {"prg", 0, Kind::Prg, true},
    {"png", 0, Kind::Png, true},            {"output-dir", 'o', Kind::OutputDir, true},
    {"quiet", 'q', Kind::Quiet, false},     {"help", 'h', Kind::Help, false},
    {"version", 0, Kind::Version, false},
};

std::string joined(const std::vector<std::string_view>& values) {
  std::string s;
  for (std::string_view v : values) {
    if (!s.empty()) s += '|';
    s += v;
  }
  return s;
}

uint64_t parseSeed(const std::string& text) {
  uint64_t seed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    throw UsageError("--seed: '" + text + "' is not a whole number from 0 to 18446744073709551615");
  return seed;
}

void setPlain(Options& o, const Plain& p, const std::string& value) {
  if (p.takesValue && value.empty()) throw UsageError(std::string("--") + p.name + ": empty value");
  switch (p.kind) {
    case Kind::Seed: o.seed = parseSeed(value); break;
    case Kind::Kernels:
      if (value != "plain" && value != "fast") throw UsageError("--kernels: '" + value + "' is not one of plain|fast");
      o.kernels = value == "plain" ? Kernels::Plain : Kernels::Fast;
      break;
    case Kind::Prg: o.prgPath = value; break;
    case Kind::Png: o.pngPath = value; break;
    case Kind::OutputDir: o.outputDir = value; break;
    case Kind::Quiet: o.quiet = true; break;
    case Kind::Help: o.help = true; break;
    case Kind::Version: o.version = true; break;
  }
}

}  // namespace

Options parseOptions(int argc, const char* const* argv) {
  Options o;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }

    // "--name value", "--name=value", "-x value" or "-xvalue".
    std::string name;
    std::optional<std::string> attached;
    const Plain* plain = nullptr;
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) attached = arg.substr(eq + 1);
      for (const Plain& p : kPlain)
        if (name == p.name) plain = &p;
    } else {
      for (const Plain& p : kPlain)
        if (arg[1] == p.shortName) plain = &p;
      if (!plain) throw UsageError("unknown option '" + arg + "'");
      name = plain->name;
      if (arg.size() > 2) {
        if (!plain->takesValue) throw UsageError("unknown option '" + arg + "'");
        attached = arg.substr(2);
      }
    }
    const Selector* selector = nullptr;
    for (const Selector& s : kSelectors)
      if (name == s.name) selector = &s;
    if (!plain && !selector) throw UsageError("unknown option '" + arg + "'");

    const bool takesValue = selector || plain->takesValue;
    if (!takesValue && attached) throw UsageError("--" + name + " takes no value");
    std::string value;
    if (takesValue) {
      if (attached) {
        value = *attached;
      } else {
        if (i + 1 >= argc) throw UsageError("--" + name + " needs a value");
        value = argv[++i];
      }
    }

    if (plain) {
      setPlain(o, *plain, value);
      continue;
    }
    int index = -1;
    for (size_t k = 0; k < selector->values.size(); ++k)
      if (value == selector->values[k]) index = int(k);
    if (index < 0)
      throw UsageError("--" + name + ": '" + value + "' is not one of " + joined(selector->values));
    o.selectors.*selector->field = index;
  }

  if (o.help || o.version) return o;
  if (o.inputs.empty()) throw UsageError("no input picture");
  if (o.inputs.size() > 1 && (!o.prgPath.empty() || !o.pngPath.empty()))
    throw UsageError("--prg and --png name the outputs of a single input; use -o DIR for several");
  return o;
}

std::vector<Job> planJobs(const Options& o) {
  namespace fs = std::filesystem;
  const bool named = !o.prgPath.empty() || !o.pngPath.empty();
  std::vector<Job> jobs;
  for (const std::string& input : o.inputs) {
    const fs::path base = fs::path(o.outputDir) / fs::path(input).filename().stem();
    Job job{input, o.prgPath, o.pngPath};
    // Named outputs replace the default ones; with -o DIR the unnamed one goes there.
    if (!named || !o.outputDir.empty()) {
      if (job.prgPath.empty()) job.prgPath = fs::path(base).concat(".prg").string();
      if (job.pngPath.empty()) job.pngPath = fs::path(base).concat(".png").string();
    }
    jobs.push_back(job);
  }

  // Two inputs of the same name (a.jpg, b/a.png) would overwrite each other's results.
  std::map<std::string, std::string> writer;
  for (const Job& job : jobs) {
    for (const std::string& out : {job.prgPath, job.pngPath}) {
      if (out.empty()) continue;
      const std::string key = fs::path(out).lexically_normal().string();
      const auto [it, fresh] = writer.emplace(key, job.input);
      if (!fresh)
        throw UsageError(out + " would be written for both " + it->second + " and " + job.input +
                         "; convert them into separate folders");
    }
  }
  return jobs;
}

std::string helpText() {
  const SelectorIndices defaults;
  std::string s =
      "Usage: tavrix-cli [OPTIONS] INPUT...\n"
      "Converts pictures into Commodore Plus/4 hires programs (.prg) and their previews (.png).\n\n";
  for (const Selector& sel : kSelectors) {
    std::string line = "  --" + std::string(sel.name) + " " + joined(sel.values);
    line.resize(std::max<size_t>(line.size() + 1, 64), ' ');
    s += line + "(default " + std::string(sel.values[size_t(defaults.*sel.field)]) + ")\n";
  }
  s +=
      "  --seed N               seed of the random dither (default: from the clock)\n"
      "  --kernels plain|fast   the readable plain kernels or the fast ones; the results are\n"
      "                         identical (default fast, or plain if TAVRIX_KERNELS=plain)\n"
      "  --prg FILE, --png FILE outputs of a single INPUT; only the named ones are written\n"
      "                         unless -o DIR is also given, which then receives the other\n"
      "  -o, --output-dir DIR   DIR/NAME.prg and DIR/NAME.png for every INPUT (DIR is created)\n"
      "                         without any output option: NAME.prg and NAME.png in the\n"
      "                         current folder; NAME is INPUT's file name without its extension\n"
      "  -q, --quiet            no progress display\n"
      "  -h, --help             this text\n"
      "      --version          the version\n\n"
      "Options also take the form --option=value. Exit status: 0 when every INPUT was\n"
      "converted, 1 when any failed (the others are still converted), 2 for a usage error.\n";
  return s;
}

}  // namespace tavrix::cli
