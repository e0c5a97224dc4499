// tavrix-cli against files that are no pictures and outputs that cannot be written: one
// line naming the file and the reason, no file damaged or left behind, the batch carries on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/io/image_io.h"
#include "tests/bad_inputs.h"
#include "tests/hostile_environment.h"
#include "tests/test_support.h"

extern char** environ;

namespace tavrix {
namespace {

namespace fs = std::filesystem;

using testing::BadInput;
using testing::ChildLimits;
using testing::readAll;

using testing::writeAll;

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  close(fd);
  return text;
}

struct CliRun {
  int status;
  std::string out, err;
};

// Runs tavrix-cli in `cwd` in a child under `limits`; a run of over a minute is killed
// (kChildHung). The program is run from an open descriptor, so the user 65534 needs no
// way through the folders above the build.
CliRun runCli(const fs::path& cwd, std::vector<std::string> args, const ChildLimits& limits = {}) {
  const int out = memfd_create("tavrix-cli-stdout", 0), err = memfd_create("tavrix-cli-stderr", 0);
  const int program = open(TAVRIX_CLI, O_RDONLY | O_CLOEXEC);
  if (out < 0 || err < 0 || program < 0) throw std::runtime_error("cannot set up tavrix-cli");
  args.insert(args.begin(), "tavrix-cli");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const testing::ChildResult child = testing::runInChild(
      limits,
      [&]() -> std::string {
        if (chdir(cwd.c_str()) != 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0)
          _exit(testing::kChildCannotStart);
        fexecve(program, argv.data(), environ);
        _exit(testing::kChildCannotStart);
      },
      std::chrono::seconds(60));
  close(program);
  return {child.status, drain(out), drain(err)};
}

// A folder for one test that the user 65534 can reach.
class HostileFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testing::makeTempFolder("tavrix-hostile");
    ASSERT_FALSE(root_.empty());
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    work_ = root_ / "work";
    fs::create_directory(work_);
    testing::handToNobody(work_);
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(root_, ec))
      if (e.is_directory(ec) && !e.is_symlink(ec)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  // A small good picture that converts in a fraction of a second.
  void writeGoodPicture(const std::string& name) {
    writeAll(work_ / name, testing::bad_inputs_detail::goodPng(160, 100));
  }
  // Both outputs of a converted picture: a Normal-mode program and a 320x200 preview.
  void expectConverted(const fs::path& folder, const std::string& name) {
    EXPECT_EQ(readAll(folder / (name + ".prg")).size(), 12098u) << name;
    const Picture preview = loadPicture((folder / (name + ".png")).string());
    EXPECT_EQ(preview.width, 320) << name;
    EXPECT_EQ(preview.height, 200) << name;
  }
  fs::path root_, work_;
};

// ---- Every kind of bad input, beside a good picture ----

class BadInputs : public HostileFolder, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputs, OneLineNoOutputAndTheGoodPictureStillConverts) {
  const BadInput& input = GetParam();
  if (input.needsUnprivileged && !testing::canDropRoot()) GTEST_SKIP() << "this system does not let a child become user 65534";
  writeGoodPicture("good.png");
  const fs::path out = work_ / "out";
  fs::create_directory(out);
  testing::handToNobody(out);

  const std::string path = input.make(work_);
  const std::string prefix = work_.string() + "/";
  const std::string arg = path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : path;
  const std::string name = fs::path(path).stem().string();
  // A result of an earlier run, which a failure must leave as it is.
  writeAll(out / (name + ".prg"), "an earlier result");

  const CliRun r = runCli(work_, {"-q", "--mode", "normal", "-o", "out", arg, "good.png"}, {input.needsUnprivileged, -1});
  ASSERT_NE(r.status, testing::kChildHung) << "tavrix-cli did not finish within a minute";
  ASSERT_NE(r.status, testing::kChildCannotStart);
  RecordProperty("exit_status", r.status);
  RecordProperty("stderr", r.err);
  EXPECT_TRUE(r.out.empty()) << r.out;
  expectConverted(out, "good");

  if (input.reason.empty()) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expectConverted(out, name);
    EXPECT_EQ(entries(out), sorted({"good.png", "good.prg", name + ".png", name + ".prg"}));
    return;
  }
  EXPECT_EQ(r.status, 1);
  const std::string line = "tavrix-cli: " + arg + ": " + input.reason;
  EXPECT_EQ(r.err.rfind(line, 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.back(), '\n');
  EXPECT_EQ(readAll(out / (name + ".prg")), "an earlier result");
  EXPECT_EQ(entries(out), sorted({"good.png", "good.prg", name + ".prg"}));
}

INSTANTIATE_TEST_SUITE_P(Cli, BadInputs, ::testing::ValuesIn(testing::badInputs()),
                         [](const ::testing::TestParamInfo<BadInput>& info) {
                           std::string name = info.param.kind;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// ---- Outputs that cannot be written ----

using CliWriteFailures = HostileFolder;

TEST_F(CliWriteFailures, EachFailureOneLineNothingDamagedTheRestGoesOn) {
  writeGoodPicture("a.png");
  writeGoodPicture("b.png");
  const testing::TinyDisk disk(work_ / "disk");
  std::cout << "full disk: " << disk.method() << "\n";
  RecordProperty("full_disk", disk.method());
  const std::string full = std::strerror(disk.error());
  const fs::path diskOut = fs::relative(disk.dir(), work_);

  struct Case {
    std::string name;
    std::vector<std::string> args;
    ChildLimits limits;
    std::string err;                                   // the whole of stderr
    std::map<std::string, std::string> keptFiles;      // path: bytes, there before and after
    std::map<std::string, std::vector<std::string>> folders;  // path: its entries after the run
    std::vector<std::string> converted;                // pictures written whole, as out/NAME
  };
  // What each case finds before it runs.
  fs::create_directory(work_ / "ro");
  writeAll(work_ / "ro" / "a.prg", "earlier a");
  fs::permissions(work_ / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  writeAll(disk.dir() / "a.prg", "earlier a");
  fs::create_directories(work_ / "out" / "a.png");
  writeAll(work_ / "out" / "a.png" / "inside", "keep");
  writeAll(work_ / "keep.prg", "earlier keep");
  fs::create_directory(work_ / "folder.prg");

  const Case kCases[] = {
      {"read-only folder, -o",
       {"-o", "ro", "a.png", "b.png"},
       {true, -1},
       "tavrix-cli: ro/a.prg: Permission denied\ntavrix-cli: ro/b.prg: Permission denied\n",
       {{"ro/a.prg", "earlier a"}},
       {{"ro", {"a.prg"}}},
       {}},
      {"full disk, -o",
       {"-o", diskOut.string(), "a.png", "b.png"},
       disk.limits(),
       "tavrix-cli: " + (diskOut / "a.prg").string() + ": " + full + "\ntavrix-cli: " + (diskOut / "b.prg").string() +
           ": " + full + "\n",
       {{(diskOut / "a.prg").string(), "earlier a"}},
       {{diskOut.string(), {"a.prg"}}},
       {}},
      {"full disk, --prg and --png",
       {"--prg", (diskOut / "a.prg").string(), "--png", (diskOut / "a.png").string(), "a.png"},
       disk.limits(),
       "tavrix-cli: " + (diskOut / "a.prg").string() + ": " + full + "\n",
       {{(diskOut / "a.prg").string(), "earlier a"}},
       {{diskOut.string(), {"a.prg"}}},
       {}},
      {"output is a folder, -o",
       {"-o", "out", "a.png", "b.png"},
       {},
       "tavrix-cli: out/a.png: Is a directory\n",
       {{"out/a.png/inside", "keep"}},
       {{"out", {"a.png", "b.png", "b.prg"}}},
       {"out/b"}},
      {"output is a folder, --prg",
       {"--prg", "folder.prg", "a.png"},
       {},
       "tavrix-cli: folder.prg: Is a directory\n",
       {},
       {{"folder.prg", {}}},
       {}},
      {"output folder does not exist, --png",
       {"--prg", "keep.prg", "--png", "nowhere/a.png", "a.png"},
       {},
       "tavrix-cli: nowhere/a.png: No such file or directory\n",
       {{"keep.prg", "earlier keep"}},
       {},
       {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.limits.withoutRoot && !testing::canDropRoot()) {
      std::cout << "skipped (no user 65534 here): " << c.name << "\n";
      continue;
    }
    const std::vector<std::string> before = entries(work_);
    std::vector<std::string> args = {"-q", "--mode", "normal"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun r = runCli(work_, args, c.limits);
    ASSERT_NE(r.status, testing::kChildCannotStart);
    std::string key = c.name;
    for (char& ch : key)
      if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    RecordProperty(key, r.err);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(r.out.empty()) << r.out;
    for (const auto& [path, bytes] : c.keptFiles) EXPECT_EQ(readAll(work_ / path), bytes) << path;
    for (const auto& [path, names] : c.folders) EXPECT_EQ(entries(work_ / path), names) << path;
    for (const std::string& picture : c.converted) expectConverted(work_ / fs::path(picture).parent_path(), fs::path(picture).filename());
    EXPECT_EQ(entries(work_), before);  // nothing new beside the inputs
  }
  EXPECT_FALSE(fs::exists(work_ / "nowhere"));
  if (disk.mounted()) {
    EXPECT_EQ(disk.freeBytes(), testing::TinyDisk::kFree - 4096);  // only "earlier a" takes a page
  }
}

}  // namespace
}  // namespace tavrix
