// tavrix-emulator-test: converts pictures in every output mode with the real tavrix-cli, runs
// each .prg in a Plus/4 emulator and requires the emulated screen to show, pixel for pixel,
// the TED colours of tavrix's own PNG. Exits 77 (skipped) when the emulator harness is absent.
//
// Depends on libpng and the standard library only, so that it checks the program from the
// outside, as a Plus/4 owner would.
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kExitSkipped = 77;

// The emulator's PAL frame and where the 320x200 picture lies in it.
constexpr int kFrameWidth = 384, kFrameHeight = 288;
constexpr int kPictureLeft = 32, kPictureTop = 40;
constexpr int kWidth = 320, kHeight = 200;
constexpr int kMinimumColours = 8;

// tavrix's display colours, 0xRRGGBB, at hue * 8 + luma.
constexpr std::array<uint32_t, 128> kDisplayPalette = {
    0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100, 0x000100,  // hue 0
    0x212221, 0x2E2F2E, 0x3B3C3B, 0x4C4D4C, 0x6E6F6E, 0x888988, 0xB2B3B2, 0xEDEEED,  // hue 1
    0x59090B, 0x661618, 0x732325, 0x843436, 0xA65658, 0xC07072, 0xEA9A9C, 0xFFD5D7,  // hue 2
    0x003A37, 0x004744, 0x035451, 0x146562, 0x368784, 0x50A19E, 0x7ACBC8, 0xB5FFFF,  // hue 3
    0x4F005E, 0x5C0B6B, 0x691878, 0x7A2989, 0x9C4BAB, 0xB665C5, 0xE08FEF, 0xFFCAFF,  // hue 4
    0x004500, 0x005200, 0x095F0A, 0x1A701B, 0x3C923D, 0x56AC57, 0x80D681, 0xBBFFBC,  // hue 5
    0x141584, 0x212291, 0x2E2F9E, 0x3F40AF, 0x6162D1, 0x7B7CEB, 0xA5A6FF, 0xE0E1FF,  // hue 6
    0x2E2E00, 0x3B3B00, 0x484800, 0x595900, 0x7B7B0B, 0x959525, 0xBFBF4F, 0xFAFA8A,  // hue 7
    0x4D1700, 0x5A2400, 0x673100, 0x78420B, 0x9A642D, 0xB47E47, 0xDEA871, 0xFFE3AC,  // hue 8
    0x402300, 0x4D3000, 0x5A3D00, 0x6B4E00, 0x8D7017, 0xA78A31, 0xD1B45B, 0xFFEF96,  // hue 9
    0x123C00, 0x1F4900, 0x2C5600, 0x3D6700, 0x5F890B, 0x79A325, 0xA3CD4F, 0xDEFF8A,  // hue 10
    0x5A022D, 0x670F3A, 0x741C47, 0x852D58, 0xA74F7A, 0xC16994, 0xEB93BE, 0xFFCEF9,  // hue 11
    0x004019, 0x004D26, 0x025A33, 0x136B44, 0x358D66, 0x4FA780, 0x79D1AA, 0xB4FFE5,  // hue 12
    0x002372, 0x0C307F, 0x193D8C, 0x2A4E9D, 0x4C70BF, 0x668AD9, 0x90B4FF, 0xCBEFFF,  // hue 13
    0x210D88, 0x2E1A95, 0x3B27A2, 0x4C38B3, 0x6E5AD5, 0x8874EF, 0xB29EFF, 0xEDD9FF,  // hue 14
    0x024200, 0x0F4F00, 0x1C5C00, 0x2D6D00, 0x4F8F19, 0x69A933, 0x93D35D, 0xCEFF98,  // hue 15
};

// A TED colour as the hardware knows it: colour number (hue) and luminance. Colour 0 is black
// at every luminance, so all of them are kept as one value.
struct TedColour {
  int hue = 0, luma = 0;
  static TedColour of(int hue, int luma) { return hue == 0 ? TedColour{} : TedColour{hue, luma}; }
  bool operator==(const TedColour&) const = default;
};

std::string hex(uint32_t rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06X", unsigned(rgb));
  return text;
}

std::string describe(TedColour c) {
  return c.hue == 0 ? std::string("black")
                    : "hue " + std::to_string(c.hue) + " luma " + std::to_string(c.luma);
}

using ColourLookup = std::unordered_map<uint32_t, TedColour>;

// Two different TED colours with one RGB value would make the comparison blind to them.
void addUnique(ColourLookup& lookup, uint32_t rgb, TedColour colour, const std::string& what) {
  auto [it, inserted] = lookup.emplace(rgb, colour);
  if (!inserted && !(it->second == colour))
    throw std::runtime_error(what + ": " + hex(rgb) + " stands for both " + describe(it->second) +
                             " and " + describe(colour));
}

ColourLookup displayPaletteLookup() {
  ColourLookup lookup;
  for (int index = 0; index < 128; ++index)
    addUnique(lookup, kDisplayPalette[size_t(index)], TedColour::of(index >> 3, index & 7),
              "display palette");
  return lookup;
}

// palette.json: {"...": ..., "rgb": [[r, g, b], ... 128 entries], ...}, entry
// luminance * 16 + colour. Only the "rgb" array is read.
class PaletteParser {
 public:
  explicit PaletteParser(std::string text) : text_(std::move(text)) {}

  std::vector<uint32_t> rgbEntries() {
    pos_ = text_.find("\"rgb\"");
    if (pos_ == std::string::npos) fail("no \"rgb\" key");
    pos_ += 5;
    expect(':');
    expect('[');
    std::vector<uint32_t> entries;
    for (;;) {
      expect('[');
      uint32_t rgb = 0;
      for (int component = 0; component < 3; ++component) {
        if (component > 0) expect(',');
        rgb = rgb << 8 | uint32_t(byteValue());
      }
      expect(']');
      entries.push_back(rgb);
      skipSpace();
      if (peek() == ']') break;
      expect(',');
    }
    return entries;
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("palette.json at offset " + std::to_string(pos_) + ": " + why);
  }
  void skipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void expect(char c) {
    skipSpace();
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++pos_;
  }
  int byteValue() {
    skipSpace();
    if (!std::isdigit(static_cast<unsigned char>(peek()))) fail("expected a number");
    int value = 0;
    while (std::isdigit(static_cast<unsigned char>(peek()))) {
      value = value * 10 + (text_[pos_++] - '0');
      if (value > 255) fail("component above 255");
    }
    return value;
  }

  std::string text_;
  size_t pos_ = 0;
};

ColourLookup emulatorPaletteLookup(const fs::path& paletteJson) {
  std::ifstream in(paletteJson, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + paletteJson.string());
  std::stringstream text;
  text << in.rdbuf();
  std::vector<uint32_t> entries = PaletteParser(text.str()).rgbEntries();
  if (entries.size() != 128)
    throw std::runtime_error(paletteJson.string() + ": " + std::to_string(entries.size()) +
                             " colours, expected 128");
  ColourLookup lookup;
  for (int index = 0; index < 128; ++index)
    addUnique(lookup, entries[size_t(index)], TedColour::of(index & 15, index >> 4),
              paletteJson.string());
  return lookup;
}

struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
  uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

Image readPng(const fs::path& path) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str()))
    throw std::runtime_error(path.string() + ": " + png.message);
  png.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr))
    throw std::runtime_error(path.string() + ": " + png.message);
  Image image{int(png.width), int(png.height), {}};
  image.pixels.resize(size_t(image.width) * size_t(image.height));
  for (size_t i = 0; i < image.pixels.size(); ++i)
    image.pixels[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  return image;
}

void writePng(const Image& image, const fs::path& path) {
  std::vector<uint8_t> rgb;
  rgb.reserve(image.pixels.size() * 3);
  for (uint32_t p : image.pixels) {
    rgb.push_back(uint8_t(p >> 16));
    rgb.push_back(uint8_t(p >> 8));
    rgb.push_back(uint8_t(p));
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = png_uint_32(image.width);
  png.height = png_uint_32(image.height);
  png.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr))
    throw std::runtime_error(path.string() + ": " + png.message);
}

// Sharp colour edges that do not line up with the 8x8, 8x4 or 8x2 cells, thin stripes in both
// directions, and hard diagonals: where a wrong attribute row or a shifted line shows at once.
Image stripesPicture() {
  static constexpr uint32_t kColours[] = {0xFF0000, 0x00FFFF, 0xFFFF00, 0x0000FF, 0x00C000,
                                          0xFF00FF, 0xFFFFFF, 0x000000, 0xFF8000, 0x808080};
  constexpr int kCount = int(std::size(kColours));
  Image image{kWidth, kHeight, std::vector<uint32_t>(size_t(kWidth) * kHeight)};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint32_t c;
      if (y < 40) {  // vertical stripes, 1 to 4 pixels wide, two colours per 80 columns
        int width = 1 + x / 80;
        int pair = (x / 80) * 2;
        c = kColours[(pair + (x / width) % 2) % kCount];
      } else if (y < 80) {  // horizontal 1- and 3-line stripes in 37-pixel-wide blocks
        int block = x / 37;
        int height = block % 2 == 0 ? 1 : 3;
        c = kColours[(block + (y / height) % 2 * 3) % kCount];
      } else if (y < 120) {  // 5x5 checkerboard, edges off the cell grid
        c = kColours[((x / 5) + (y / 5)) % kCount];
      } else if (y < 160) {  // bars of every colour, each split at a row inside a cell
        int bar = x / 32;
        c = y < 137 ? kColours[bar % kCount] : kColours[(bar + 5) % kCount];
      } else {  // diagonals one and two pixels thick
        int d = (x + y) % 11;
        int e = (x - y + 400) % 13;
        c = d == 0 ? 0xFFFFFF : e < 2 ? 0xFF0000 : 0x0000A0;
      }
      image.pixels[size_t(y) * kWidth + size_t(x)] = c;
    }
  }
  return image;
}

// Runs argv[0] (a path) with stdout and stderr into `log`; returns its exit status.
int runProgram(const std::vector<std::string>& argv, const fs::path& log) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::cout.flush();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) throw std::runtime_error("waitpid failed");
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string commandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
  return line;
}

struct Difference {
  int x, y;
  TedColour expected, got;
  uint32_t expectedRgb, gotRgb;
  bool gotKnown;
};

struct Comparison {
  long compared = 0;
  long differing = 0;
  long unknownColours = 0;  // frame pixels that are no TED colour at all
  int distinctExpected = 0;  // TED colours in tavrix's picture
  int minX = kWidth, maxX = -1, minY = kHeight, maxY = -1;
  std::array<int, kHeight> perRow{};
  std::vector<Difference> first;
};

// In XS-DFLI a line scrolled right shows the background colour in its first columns.
Comparison compareScreens(const Image& expected, const Image& frame, int firstColumn,
                          const ColourLookup& display, const ColourLookup& emulator) {
  Comparison result;
  std::array<bool, 128> used{};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = firstColumn; x < kWidth; ++x) {
      uint32_t want = expected.at(x, y);
      uint32_t got = frame.at(kPictureLeft + x, kPictureTop + y);
      auto wantColour = display.find(want);
      if (wantColour == display.end())
        throw std::runtime_error("tavrix's PNG has " + hex(want) + " at (" + std::to_string(x) +
                                 ", " + std::to_string(y) + "), which is no display colour");
      TedColour w = wantColour->second;
      if (!used[size_t(w.hue * 8 + w.luma)]) {
        used[size_t(w.hue * 8 + w.luma)] = true;
        ++result.distinctExpected;
      }
      auto gotColour = emulator.find(got);
      bool known = gotColour != emulator.end();
      ++result.compared;
      if (known && gotColour->second == wantColour->second) continue;
      ++result.differing;
      if (!known) ++result.unknownColours;
      result.minX = std::min(result.minX, x);
      result.maxX = std::max(result.maxX, x);
      result.minY = std::min(result.minY, y);
      result.maxY = std::max(result.maxY, y);
      ++result.perRow[size_t(y)];
      if (result.first.size() < 8)
        result.first.push_back({x, y, wantColour->second, known ? gotColour->second : TedColour{},
                                want, got, known});
    }
  }
  return result;
}

struct Picture {
  std::string name;
  fs::path path;
  std::string dither;
};

struct Mode {
  std::string name;
  int firstColumn;
};

class EmulatorTest {
 public:
  EmulatorTest(fs::path cli, fs::path harness, fs::path work)
      : cli_(std::move(cli)),
        harness_(std::move(harness)),
        work_(std::move(work)),
        display_(displayPaletteLookup()),
        emulator_(emulatorPaletteLookup(harness_.parent_path() / "palette.json")) {}

  void check(const Picture& picture, const Mode& mode) {
    std::string label = mode.name + " " + picture.name;
    try {
      checkOne(picture, mode, label);
    } catch (const std::exception& e) {
      fail(label, e.what());
    }
  }

  int passed() const { return passed_; }
  int failed() const { return failed_; }

 private:
  void checkOne(const Picture& picture, const Mode& mode, const std::string& label) {
    fs::path stem = work_ / (picture.name + "-" + mode.name);
    fs::path prg = stem.string() + ".prg", png = stem.string() + ".png";
    fs::path frame = stem.string() + "-frame.png", log = stem.string() + ".log";

    std::vector<std::string> convert = {cli_.string(), "--quiet", "--mode", mode.name,
                                        "--dither", picture.dither, "--prg", prg.string(),
                                        "--png", png.string(), picture.path.string()};
    if (int status = runProgram(convert, log); status != 0)
      return fail(label, "tavrix-cli exited with " + std::to_string(status) + ":\n  " +
                             commandLine(convert) + "\n" + readText(log));

    std::vector<std::string> emulate = {harness_.string(), prg.string(), frame.string()};
    if (int status = runProgram(emulate, log); status != 0)
      return fail(label, "run-prg.sh exited with " + std::to_string(status) + ":\n  " +
                             commandLine(emulate) + "\n" + readText(log));

    Image expected = readPng(png), shown = readPng(frame);
    if (expected.width != kWidth || expected.height != kHeight)
      return fail(label, png.string() + " is " + std::to_string(expected.width) + "x" +
                             std::to_string(expected.height) + ", expected 320x200");
    if (shown.width != kFrameWidth || shown.height != kFrameHeight)
      return fail(label, frame.string() + " is " + std::to_string(shown.width) + "x" +
                             std::to_string(shown.height) + ", expected a 384x288 PAL frame");

    Comparison c = compareScreens(expected, shown, mode.firstColumn, display_, emulator_);
    // A blank or nearly blank conversion would match a blank screen and prove nothing.
    if (c.distinctExpected < kMinimumColours)
      return fail(label, "tavrix's picture has only " + std::to_string(c.distinctExpected) +
                             " colours: " + png.string());
    if (c.differing == 0) {
      ++passed_;
      std::cout << "PASS " << label << ": " << c.compared << " pixels identical, "
                << c.distinctExpected << " colours\n";
      return;
    }
    std::ostringstream report;
    report << c.differing << " of " << c.compared << " pixels differ";
    if (c.unknownColours > 0) report << " (" << c.unknownColours << " not a TED colour)";
    report << ", in columns " << c.minX << ".." << c.maxX << ", rows " << c.minY << ".." << c.maxY
           << "\n  rows (differing pixels):";
    int listed = 0;
    for (int y = 0; y < kHeight && listed < 12; ++y)
      if (c.perRow[size_t(y)] > 0) {
        report << " " << y << " (" << c.perRow[size_t(y)] << ")";
        ++listed;
      }
    report << (listed == 12 ? " ...\n" : "\n");
    for (const Difference& d : c.first)
      report << "  (" << d.x << ", " << d.y << ") expected " << describe(d.expected) << " "
             << hex(d.expectedRgb) << ", got "
             << (d.gotKnown ? describe(d.got) + " " : std::string("unknown ")) << hex(d.gotRgb)
             << "\n";
    report << "  tavrix: " << png.string() << "\n  frame:  " << frame.string();
    fail(label, report.str());
  }

  void fail(const std::string& label, const std::string& why) {
    ++failed_;
    std::cout << "FAIL " << label << ": " << why << "\n";
  }

  fs::path cli_, harness_, work_;
  ColourLookup display_, emulator_;
  int passed_ = 0, failed_ = 0;
};

fs::path harnessPath() {
  if (const char* dir = std::getenv("TAVRIX_EMU_DIR"); dir != nullptr && *dir != '\0')
    return fs::path(dir) / "run-prg.sh";
  return fs::path(TAVRIX_EMU_HARNESS);
}

fs::path makeWorkFolder() {
  std::string pattern = (fs::temp_directory_path() / "tavrix-emulator-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
  return pattern;
}

}  // namespace

int main() {
  try {
    fs::path harness = harnessPath().lexically_normal();
    if (!fs::exists(harness)) {
      std::cout << "SKIPPED: Plus/4 emulator harness not found at " << harness.string() << "\n";
      return kExitSkipped;
    }
    fs::path work = makeWorkFolder();
    EmulatorTest test(TAVRIX_CLI, harness, work);

    fs::path stripes = work / "stripes.png";
    writePng(stripesPicture(), stripes);
    const Picture pictures[] = {
        {"coffee", fs::path(TAVRIX_SAMPLES) / "coffee.png", "none"},
        {"chelsea", fs::path(TAVRIX_TEST_DATA) / "chelsea.png", "floyd-steinberg"},
        {"stripes", stripes, "none"},
    };
    const Mode modes[] = {{"normal", 0}, {"qfli", 0}, {"dfli", 0}, {"xs-dfli", 7}};

    for (const Mode& mode : modes)
      for (const Picture& picture : pictures) test.check(picture, mode);

    std::cout << test.passed() << " passed, " << test.failed() << " failed\n";
    if (test.failed() == 0) {
      fs::remove_all(work);
      return 0;
    }
    std::cout << "Files kept in " << work.string() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout << "error: " << e.what() << "\n";
    return 1;
  }
}
