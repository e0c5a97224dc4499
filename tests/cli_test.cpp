// tavrix-cli run as a program: exit statuses, messages and the files it writes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/io/image_io.h"
#include "tests/test_support.h"

namespace tavrix {
namespace {

namespace fs = std::filesystem;

using testing::readAll;

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Outcome {
  int status;
  std::string out, err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testing::makeTempFolder("tavrix-cli");
    ASSERT_FALSE(root_.empty());
    work_ = root_ / "work";
    fs::create_directory(work_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Runs the tool in the work folder, stdout and stderr to files (so not a terminal).
  Outcome run(const std::vector<std::string>& args) {
    std::string command = "cd " + quoted(work_.string()) + " && " + quoted(TAVRIX_CLI);
    for (const std::string& a : args) {
      command += ' ';
      command += quoted(a);
    }
    command += " >" + quoted((root_ / "out").string()) + " 2>" + quoted((root_ / "err").string());
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(root_ / "out"), readAll(root_ / "err")};
  }

  std::vector<std::string> files(const fs::path& dir) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path root_, work_;
};

TEST_F(Cli, UsageErrorsExitWithTwoAndWriteNothing) {
  fs::copy_file(TAVRIX_TEST_DATA "/rocket.jpg", work_ / "pic.jpg");
  fs::create_directory(work_ / "b");
  fs::copy_file(TAVRIX_TEST_DATA "/rocket.jpg", work_ / "b" / "pic.jpg");
  const std::vector<std::string> kCases[] = {
      {},
      {"--mode", "bogus", "pic.jpg"},
      {"--mode=", "pic.jpg"},
      {"--frobnicate", "pic.jpg"},
      {"-x", "pic.jpg"},
      {"pic.jpg", "--crop"},
      {"--seed", "12ab", "pic.jpg"},
      {"--quiet=yes", "pic.jpg"},
      {"--prg", "a.prg", "pic.jpg", "b/pic.jpg"},
      {"pic.jpg", "b/pic.jpg"},  // both would write pic.prg and pic.png
  };
  for (const auto& args : kCases) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_TRUE(r.out.empty()) << shown;
    EXPECT_EQ(r.err.rfind("tavrix-cli: ", 0), 0u) << shown << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << r.err;
  }
  EXPECT_EQ(files(work_), (std::vector<std::string>{"b", "pic.jpg"}));
}

TEST_F(Cli, VersionAndHelp) {
  const Outcome version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tavrix 0.4.2.6\n");

  for (const char* flag : {"--help", "-h"}) {
    const Outcome help = run({flag});
    EXPECT_EQ(help.status, 0) << flag;
    for (const char* option : {"--crop", "--mode", "--dither", "--oversaturate", "--sharpen", "--hdr",
                               "--color-range", "--colormap", "--seed", "--prg", "--png", "--output-dir",
                               "--quiet", "--version", "xs-dfli", "floyd-steinberg", "327x207-fit"})
      EXPECT_NE(help.out.find(option), std::string::npos) << flag << " lacks " << option;
  }
}

TEST_F(Cli, FailuresBeforeConvertingExitWithOne) {
  fs::copy_file(TAVRIX_TEST_DATA "/chelsea.png", work_ / "cat.png");
  std::ofstream(work_ / "notes.txt") << "text";
  struct Case { std::vector<std::string> args; std::string message; };
  const Case kCases[] = {
      // NAME.png in the current folder would be the input itself.
      {{"cat.png"}, "tavrix-cli: cat.png: the output cat.png would replace the input"},
      {{"-o", "notes.txt/out", "cat.png"}, "tavrix-cli: notes.txt/out: "},
      {{"--png", ".", "cat.png"}, "tavrix-cli: .: Is a directory"},
  };
  for (const Case& c : kCases) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_EQ(readAll(work_ / "cat.png"), readAll(TAVRIX_TEST_DATA "/chelsea.png"));
  EXPECT_EQ(files(work_), (std::vector<std::string>{"cat.png", "notes.txt"}));
}

TEST_F(Cli, BadInputDoesNotStopTheOthers) {
  fs::copy_file(TAVRIX_TEST_DATA "/rocket.jpg", work_ / "rocket.jpg");
  const Outcome r = run({"--mode", "normal", "-o", "out", "missing.png", "rocket.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  // On a pipe the only output is the error line: no progress.
  EXPECT_EQ(r.err, "tavrix-cli: missing.png: No such file or directory\n");

  ASSERT_EQ(files(work_ / "out"), (std::vector<std::string>{"rocket.png", "rocket.prg"}));
  const std::string prg = readAll(work_ / "out" / "rocket.prg");
  EXPECT_EQ(prg.size(), 12098u);  // Normal
  EXPECT_EQ(prg.substr(0, 2), std::string("\x00\x10", 2));  // loads at $1000
  const Picture preview = loadPicture((work_ / "out" / "rocket.png").string());
  EXPECT_EQ(preview.width, 320);
  EXPECT_EQ(preview.height, 200);
}

TEST_F(Cli, OutputNamesAndSeed) {
  fs::copy_file(TAVRIX_TEST_DATA "/rocket.jpg", work_ / "shot.v2.jpg");
  auto args = [](std::vector<std::string> extra) {
    std::vector<std::string> a = {"--mode=qfli", "--dither=random", "--crop", "327x207-fit", "-q"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };

  // No output option: NAME, the file name without its last extension, in the current folder.
  ASSERT_EQ(run(args({"--seed", "42", "shot.v2.jpg"})).status, 0);
  EXPECT_EQ(files(work_), (std::vector<std::string>{"shot.v2.jpg", "shot.v2.png", "shot.v2.prg"}));
  const std::string prg = readAll(work_ / "shot.v2.prg");
  EXPECT_EQ(prg.size(), 24554u);  // QFLI

  // Only the named output; the same seed gives the same program.
  ASSERT_EQ(run(args({"--seed=42", "--prg", "same.prg", "shot.v2.jpg"})).status, 0);
  EXPECT_EQ(files(work_), (std::vector<std::string>{"same.prg", "shot.v2.jpg", "shot.v2.png", "shot.v2.prg"}));
  EXPECT_EQ(readAll(work_ / "same.prg"), prg);

  // A named output plus -o DIR for the other one; another seed dithers differently.
  ASSERT_EQ(run(args({"--seed", "43", "--png", "other.png", "-o", "more", "shot.v2.jpg"})).status, 0);
  EXPECT_EQ(files(work_ / "more"), std::vector<std::string>{"shot.v2.prg"});
  EXPECT_TRUE(fs::exists(work_ / "other.png"));
  EXPECT_NE(readAll(work_ / "more" / "shot.v2.prg"), prg);
  EXPECT_NE(loadPicture((work_ / "other.png").string()).pixels,
            loadPicture((work_ / "shot.v2.png").string()).pixels);
}


TEST_F(Cli, BatchGivesEachPictureItsOwnResult) {
  // Pictures are loaded ahead and written behind while another converts: each must still
  // get exactly the files a run of its own gives, and the random dither's sequence must
  // run through the pictures in input order, as one after the other would.
  fs::copy_file(TAVRIX_TEST_DATA "/rocket.jpg", work_ / "a.jpg");
  fs::copy_file(TAVRIX_TEST_DATA "/chelsea.png", work_ / "b.png");
  fs::copy_file(TAVRIX_SAMPLES "/coffee.png", work_ / "c.png");
  ASSERT_EQ(run({"-q", "--mode", "normal", "-o", "batch", "a.jpg", "b.png", "missing.png", "c.png"}).status, 1);
  for (const char* name : {"a", "b", "c"}) {
    ASSERT_EQ(run({"-q", "--mode", "normal", "-o", "single", std::string(name) + (name[0] == 'a' ? ".jpg" : ".png")})
                  .status,
              0);
    for (const char* ext : {".prg", ".png"}) {
      const std::string file = std::string(name) + ext;
      EXPECT_EQ(readAll(work_ / "batch" / file), readAll(work_ / "single" / file)) << file;
    }
  }
  // Random dither: the same seed over the same inputs in the same order gives the same files,
  // and the second picture does not repeat the first one's draws.
  ASSERT_EQ(run({"-q", "--mode", "normal", "--dither", "random", "--seed", "9", "-o", "r1", "b.png", "c.png"}).status, 0);
  ASSERT_EQ(run({"-q", "--mode", "normal", "--dither", "random", "--seed", "9", "-o", "r2", "b.png", "c.png"}).status, 0);
  ASSERT_EQ(run({"-q", "--mode", "normal", "--dither", "random", "--seed", "9", "-o", "r3", "c.png"}).status, 0);
  EXPECT_EQ(readAll(work_ / "r1" / "c.prg"), readAll(work_ / "r2" / "c.prg"));
  EXPECT_NE(readAll(work_ / "r1" / "c.prg"), readAll(work_ / "r3" / "c.prg"));
}

TEST_F(Cli, KernelsOption) {
  fs::copy_file(TAVRIX_TEST_DATA "/chelsea.png", work_ / "b.png");
  EXPECT_EQ(run({"--kernels", "quick", "b.png"}).status, 2);
  ASSERT_EQ(run({"-q", "--mode", "dfli", "--kernels", "plain", "--prg", "plain.prg", "b.png"}).status, 0);
  ASSERT_EQ(run({"-q", "--mode", "dfli", "--kernels=fast", "--prg", "fast.prg", "b.png"}).status, 0);
  EXPECT_EQ(readAll(work_ / "plain.prg").size(), 28650u);
  EXPECT_EQ(readAll(work_ / "plain.prg"), readAll(work_ / "fast.prg"));
}

}  // namespace
}  // namespace tavrix
