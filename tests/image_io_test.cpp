#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/io/image_io.h"
#include "tests/hostile_environment.h"
#include "tests/test_support.h"

namespace tavrix {
namespace {

namespace fs = std::filesystem;

using testing::readAll;

using testing::writeAll;

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::makeTempFolder("tavrix-io");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir_;
};

Picture noise(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  Picture p(w, h);
  for (uint32_t& v : p.pixels) v = rng();
  return p;
}

struct Chunk {
  std::string type;
  std::string data;
};

std::vector<Chunk> chunksOf(const std::vector<uint8_t>& png) {
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  EXPECT_TRUE(png.size() >= 8 && std::equal(kSignature, kSignature + 8, png.begin()));
  std::vector<Chunk> chunks;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length = size_t(png[at]) << 24 | size_t(png[at + 1]) << 16 | size_t(png[at + 2]) << 8 | png[at + 3];
    chunks.push_back({std::string(png.begin() + long(at) + 4, png.begin() + long(at) + 8),
                      std::string(png.begin() + long(at) + 8, png.begin() + long(at + 8 + length))});
    at += 12 + length;
  }
  return chunks;
}

TEST(PngEncoding, TruecolourWithOnlyCriticalChunks) {
  const Picture picture = noise(37, 23, 1);
  const std::vector<uint8_t> png = encodePng(picture);
  const std::vector<Chunk> chunks = chunksOf(png);
  ASSERT_GE(chunks.size(), 3u);
  EXPECT_EQ(chunks.front().type, "IHDR");
  EXPECT_EQ(chunks.back().type, "IEND");
  for (size_t i = 1; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i].type, "IDAT") << i;

  const std::string& ihdr = chunks.front().data;
  ASSERT_EQ(ihdr.size(), 13u);
  EXPECT_EQ(ihdr.substr(0, 8), std::string("\0\0\0\x25\0\0\0\x17", 8));  // 37 x 23
  EXPECT_EQ(ihdr[8], 8);   // bits per sample
  EXPECT_EQ(ihdr[9], 2);   // truecolour
  EXPECT_EQ(ihdr[12], 0);  // not interlaced
  // zlib header: FLEVEL 3 is written for level 9.
  EXPECT_EQ(uint8_t(chunks[1].data[1]) >> 6, 3);

  EXPECT_EQ(encodePng(picture), png);  // the same picture gives the same bytes
}

TEST(PngEncoding, DecodesToTheSamePixels) {
  const Picture picture = noise(61, 40, 2);  // random top bytes, which the PNG drops
  const std::vector<uint8_t> png = encodePng(picture);
  const QImage decoded = QImage::fromData(png.data(), int(png.size()), "PNG");
  ASSERT_FALSE(decoded.isNull());
  EXPECT_FALSE(decoded.hasAlphaChannel());
  ASSERT_EQ(decoded.width(), 61);
  ASSERT_EQ(decoded.height(), 40);
  int wrong = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 61; ++x) wrong += (decoded.pixel(x, y) & 0xFFFFFF) != (picture.at(x, y) & 0xFFFFFF);
  EXPECT_EQ(wrong, 0);
  EXPECT_THROW(encodePng(Picture()), std::invalid_argument);
}

using AtomicWrite = TempFolder;

TEST_F(AtomicWrite, CreatesAndReplacesWholeFiles) {
  const fs::path target = dir_ / "out.prg";
  const std::string first = "first contents", second(100000, 'x');
  writeFileAtomically(target.string(), reinterpret_cast<const uint8_t*>(first.data()), first.size());
  EXPECT_EQ(readAll(target), first);
  writeFileAtomically(target.string(), reinterpret_cast<const uint8_t*>(second.data()), second.size());
  EXPECT_EQ(readAll(target), second);
  EXPECT_EQ(entries(), std::vector<std::string>{"out.prg"});  // no temporary left behind

  const mode_t mask = umask(022);
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);  // a new file's permissions, not mkstemp's 0600

  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  writeFileAtomically(target.string(), reinterpret_cast<const uint8_t*>(first.data()), first.size());
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // a replaced file keeps its permissions
}

TEST_F(AtomicWrite, WritesThroughASymbolicLink) {
  writeAll(dir_ / "real.png", "old");
  fs::create_symlink("real.png", dir_ / "link.png");
  const std::string bytes = "new";
  writeFileAtomically((dir_ / "link.png").string(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.png"));
  EXPECT_EQ(readAll(dir_ / "real.png"), "new");
}

TEST_F(AtomicWrite, FailuresLeaveEverythingAsItWas) {
  const uint8_t data[3] = {1, 2, 3};
  fs::create_directory(dir_ / "folder.png");
  writeAll(dir_ / "folder.png" / "inside", "keep");

  struct Case { fs::path target; std::string reason; };
  const Case kCases[] = {
      {dir_ / "folder.png", "Is a directory"},
      {dir_ / "folder.png/", "Is a directory"},
      {dir_ / "missing" / "out.png", "No such file or directory"},
  };
  for (const Case& c : kCases) {
    try {
      writeFileAtomically(c.target.string(), data, sizeof data);
      ADD_FAILURE() << "no error for " << c.target;
    } catch (const FileError& e) {
      const std::string prefix = c.target.string() + ": ", message = e.what();
      EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
      EXPECT_NE(message.find(c.reason, prefix.size()), std::string::npos) << message;
    }
  }
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.png"));
  EXPECT_EQ(readAll(dir_ / "folder.png" / "inside"), "keep");
  EXPECT_EQ(entries(), std::vector<std::string>{"folder.png"});
}

TEST_F(AtomicWrite, FailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
  const fs::path target = dir_ / "out.png";
  writeAll(target, "old contents");
  // A file size limit makes the write itself fail (EFBIG) after the temporary exists.
  rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto savedSignal = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::vector<uint8_t> big(100000, 0xAB);
  std::string message;
  try {
    writeFileAtomically(target.string(), big.data(), big.size());
  } catch (const FileError& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, savedSignal);

  EXPECT_EQ(message, target.string() + ": " + std::strerror(EFBIG));
  EXPECT_EQ(readAll(target), "old contents");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.png"});
}

TEST_F(AtomicWrite, ReadOnlyFolderKeepsTheOldFile) {
  // Root writes into any folder: the write runs in a child that has given up root.
  if (!testing::canDropRoot()) GTEST_SKIP() << "this system does not let a child become user 65534";
  const fs::path target = dir_ / "out.png";
  writeAll(target, "old");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  const uint8_t data[3] = {1, 2, 3};
  const testing::ChildResult child = testing::runInChild({true, -1}, [&]() -> std::string {
    try {
      writeFileAtomically(target.string(), data, sizeof data);
    } catch (const FileError& e) {
      return e.what();
    }
    return "no error";
  });
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.text, target.string() + ": " + std::strerror(EACCES));
  EXPECT_EQ(readAll(target), "old");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.png"});
}

// Every writer, every way a write can fail: the message is the file and the system's
// reason, an existing file keeps its bytes, and no temporary stays behind.
TEST_F(AtomicWrite, EveryWriterFailsWholeAndSaysWhy) {
  const testing::TinyDisk disk(dir_ / "disk");
  std::cout << "full disk: " << disk.method() << "\n";
  RecordProperty("full_disk", disk.method());
  const bool unprivileged = testing::canDropRoot();

  fs::create_directory(dir_ / "ro");
  writeAll(dir_ / "ro" / "result", "earlier");
  fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  writeAll(disk.dir() / "result", "earlier");
  fs::create_directory(dir_ / "folder");
  writeAll(dir_ / "folder" / "inside", "keep");

  struct Place {
    const char* name;
    fs::path target;  // "result" with the writer's extension added
    testing::ChildLimits limits;
    int error;
    std::vector<std::string> entries;  // of the target's folder, after
  };
  const Place kPlaces[] = {
      {"read-only folder", dir_ / "ro" / "result", {true, -1}, EACCES, {"result"}},
      {"full disk", disk.dir() / "result", disk.limits(), disk.error(), {"result"}},
      {"target is a folder", dir_ / "folder", {}, EISDIR, {"inside"}},
      {"folder does not exist", dir_ / "missing" / "result", {}, ENOENT, {}},
  };
  Picture picture = noise(320, 200, 9);  // about 190 KB of PNG: more than the full disk holds
  PrgImage prg;
  prg.length = 12098;
  const std::vector<uint8_t> bytes(100000, 0x5A);
  struct Writer {
    const char* name;
    std::function<void(const std::string&)> write;
  };
  const Writer kWriters[] = {
      {"writeFileAtomically", [&](const std::string& p) { writeFileAtomically(p, bytes.data(), bytes.size()); }},
      {"savePng", [&](const std::string& p) { savePng(picture, p); }},
      {"savePrg", [&](const std::string& p) { savePrg(prg, p); }},
  };
  for (const Place& place : kPlaces) {
    if (place.limits.withoutRoot && !unprivileged) {
      std::cout << "skipped (no user 65534 here): " << place.name << "\n";
      continue;
    }
    for (const Writer& writer : kWriters) {
      SCOPED_TRACE(std::string(place.name) + ", " + writer.name);
      const std::string target = place.target.string();
      const testing::ChildResult child = testing::runInChild(place.limits, [&]() -> std::string {
        try {
          writer.write(target);
        } catch (const FileError& e) {
          return e.what();
        }
        return "no error";
      });
      EXPECT_EQ(child.status, 0);
      EXPECT_EQ(child.text, target + ": " + std::strerror(place.error));
      const fs::path folder = place.target.parent_path();
      if (fs::exists(place.target) && !fs::is_directory(place.target)) {
        EXPECT_EQ(readAll(place.target), "earlier");
      }
      if (place.error == EISDIR) {
        EXPECT_EQ(readAll(place.target / "inside"), "keep");
      }
      if (fs::is_directory(place.error == EISDIR ? place.target : folder)) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(place.error == EISDIR ? place.target : folder))
          names.push_back(e.path().filename().string());
        EXPECT_EQ(names, place.entries);
      } else {
        EXPECT_TRUE(place.entries.empty());
      }
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_EQ(readAll(dir_ / "ro" / "result"), "earlier");
  EXPECT_EQ(readAll(disk.dir() / "result"), "earlier");
  if (disk.mounted()) {
    EXPECT_EQ(disk.freeBytes(), testing::TinyDisk::kFree - 4096);  // the temporaries' pages came back
  }
}

TEST_F(AtomicWrite, PrgIsItsFirstLengthBytes) {
  PrgImage prg;
  for (size_t i = 0; i < prg.bytes.size(); ++i) prg.bytes[i] = uint8_t(i * 7 + 3);
  EXPECT_THROW(savePrg(prg, (dir_ / "unfinished.prg").string()), FileError);
  EXPECT_TRUE(entries().empty());

  prg.length = 12098;
  savePrg(prg, (dir_ / "a.prg").string());
  EXPECT_EQ(readAll(dir_ / "a.prg"), std::string(prg.bytes.begin(), prg.bytes.begin() + 12098));
}

using Loading = TempFolder;

TEST_F(Loading, RealPhotos) {
  struct Case { std::string path; int w, h; };
  const Case kCases[] = {{TAVRIX_TEST_DATA "/chelsea.png", 451, 300},
                         {TAVRIX_TEST_DATA "/rocket.jpg", 640, 427},
                         {TAVRIX_SAMPLES "/coffee.png", 600, 400}};
  for (const Case& c : kCases) {
    const Picture p = loadPicture(c.path);
    EXPECT_EQ(p.width, c.w) << c.path;
    EXPECT_EQ(p.height, c.h) << c.path;
    EXPECT_TRUE(std::all_of(p.pixels.begin(), p.pixels.end(), [](uint32_t v) { return v >> 24 == 0; })) << c.path;
    EXPECT_GT(std::set<uint32_t>(p.pixels.begin(), p.pixels.end()).size(), 1000u) << c.path;  // a photo, not a blank
  }
  // The content decides the format, not the name.
  fs::copy_file(TAVRIX_TEST_DATA "/rocket.jpg", dir_ / "rocket.png");
  EXPECT_EQ(loadPicture((dir_ / "rocket.png").string()).pixels, loadPicture(TAVRIX_TEST_DATA "/rocket.jpg").pixels);
}

TEST_F(Loading, SavedPngLoadsBackWithClearTopByte) {
  const Picture picture = noise(33, 17, 5);
  const fs::path file = dir_ / "round.png";
  savePng(picture, file.string());
  const Picture loaded = loadPicture(file.string());
  ASSERT_EQ(loaded.width, 33);
  ASSERT_EQ(loaded.height, 17);
  for (size_t i = 0; i < loaded.pixels.size(); ++i) ASSERT_EQ(loaded.pixels[i], picture.pixels[i] & 0xFFFFFF) << i;
}

// An uncompressed TGA begins 00 00 02 00, which by content reads as a Windows cursor; the
// name's .tga must still load it. (Qt reads TGA 2.0 files, the ones with the closing
// TRUEVISION-XFILE signature.)
TEST_F(Loading, TgaWithoutSignatureLoadsByItsName) {
  const int w = 5, h = 3;
  std::string tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, char(w), 0, char(h), 0, 24, 0x20};  // top-left origin
  Picture expected(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t r = uint8_t(40 * x + 7), g = uint8_t(90 * y + 3), b = uint8_t(11 * x * y + 200);
      tga += {char(b), char(g), char(r)};
      expected.row(y)[x] = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    }
  tga += std::string(8, '\0') + "TRUEVISION-XFILE." + '\0';
  writeAll(dir_ / "picture.tga", tga);
  writeAll(dir_ / "picture.bin", tga);
  EXPECT_EQ(loadPicture((dir_ / "picture.tga").string()).pixels, expected.pixels);
  EXPECT_THROW(loadPicture((dir_ / "picture.bin").string()), FileError);
}

TEST_F(Loading, ErrorsNameTheFileAndTheReason) {
  const std::string photo = readAll(TAVRIX_TEST_DATA "/chelsea.png");
  writeAll(dir_ / "empty.png", "");
  writeAll(dir_ / "notes.png", "This is a text file, not a picture.\n");
  writeAll(dir_ / "truncated.png", photo.substr(0, photo.size() / 3));
  writeAll(dir_ / "noise.bmp", std::string("BM") + std::string(60, '\x7f'));
  fs::create_directory(dir_ / "folder.jpg");

  struct Case { std::string name, reason; };
  const Case kCases[] = {
      {"missing.png", "No such file or directory"},
      {"empty.png", "empty"},
      {"folder.jpg", "folder"},
      {"notes.png", "not a picture"},
      {"truncated.png", "truncated"},
  };
  for (const Case& c : kCases) {
    const std::string path = (dir_ / c.name).string();
    try {
      loadPicture(path);
      ADD_FAILURE() << "no error for " << c.name;
    } catch (const FileError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.reason, path.size() + 2), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
  EXPECT_THROW(loadPicture((dir_ / "noise.bmp").string()), FileError);
}

TEST_F(Loading, UnreadableFileSaysPermissionDenied) {
  // Root reads any file: the load runs in a child that has given up root.
  if (!testing::canDropRoot()) GTEST_SKIP() << "this system does not let a child become user 65534";
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  fs::copy_file(TAVRIX_TEST_DATA "/chelsea.png", dir_ / "locked.png");
  fs::permissions(dir_ / "locked.png", fs::perms::none);
  const std::string locked = (dir_ / "locked.png").string();
  const testing::ChildResult child = testing::runInChild({true, -1}, [&]() -> std::string {
    try {
      loadPicture(locked);
    } catch (const FileError& e) {
      return e.what();
    }
    return "no error";
  });
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.text, locked + ": Permission denied");
}

TEST(ReadableFormats, LowerCaseAndIncludesCommonFormats) {
  const std::vector<std::string> formats = readableFormats();
  for (const char* f : {"png", "jpg", "jpeg", "bmp"})
    EXPECT_NE(std::find(formats.begin(), formats.end(), f), formats.end()) << f;
  for (const std::string& f : formats)
    EXPECT_TRUE(std::none_of(f.begin(), f.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) << f;
}

}  // namespace
}  // namespace tavrix
