#pragma once
// What the tests need to make writes and reads fail for real: a child process without root
// (permission bits do not stop root, and CI runs as root) and a disk that is full.
#include <grp.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace tavrix::testing {

// The unprivileged user and group of Debian ("nobody", "nogroup").
inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNoGroup = 65534;

// Gives up root for good in this process; true when it now runs without root's override
// (also when it never had root).
inline bool dropRoot() {
  if (geteuid() != 0) return true;
  const gid_t groups[] = {kNoGroup};
  return setgroups(1, groups) == 0 && setgid(kNoGroup) == 0 && setuid(kNobody) == 0 && geteuid() == kNobody;
}

// Lets the unprivileged user reach and change `path` (a test's own temporary folder).
inline void handToNobody(const std::filesystem::path& path) {
  if (geteuid() == 0 && chown(path.c_str(), kNobody, kNoGroup) != 0)
    throw std::runtime_error("chown " + path.string() + ": " + std::strerror(errno));
}

struct ChildLimits {
  bool withoutRoot = false;
  long long fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes, SIGXFSZ ignored; -1: none
};

// What a child process reported: its exit status (0 when `body` returned; 125 when the
// limits could not be set; 124 when it was killed after the time limit) and its text.
struct ChildResult {
  int status = -1;
  std::string text;
};

inline constexpr int kChildCannotStart = 125;
inline constexpr int kChildHung = 124;

// Runs `body` in a forked child under `limits` and returns the text it produced. The child
// must not use the parent's threads (the conversion pool): it runs only what fails early.
inline ChildResult runInChild(const ChildLimits& limits, const std::function<std::string()>& body,
                              std::chrono::seconds timeLimit = std::chrono::seconds(120)) {
  int channel[2];
  if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(channel[0]);
    if (limits.fileSizeLimit >= 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit small{rlim_t(limits.fileSizeLimit), rlim_t(limits.fileSizeLimit)};
      if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(kChildCannotStart);
    }
    if (limits.withoutRoot && !dropRoot()) _exit(kChildCannotStart);
    int status = 0;
    std::string text;
    try {
      text = body();
    } catch (const std::exception& e) {
      text = std::string("exception: ") + e.what();
      status = 1;
    }
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = write(channel[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    _exit(status);
  }
  close(channel[1]);
  ChildResult result;
  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  char buffer[4096];
  for (;;) {
    pollfd p{channel[0], POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&p, 1, int(left.count())) <= 0) continue;
    const ssize_t n = read(channel[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.text.append(buffer, size_t(n));
  }
  close(channel[0]);
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WTERMSIG(raw) == SIGKILL ? kChildHung : 128 + WTERMSIG(raw);
  return result;
}

// True when a child can run without root here (a container may forbid changing user).
inline bool canDropRoot() {
  static const bool can = runInChild({true, -1}, [] { return std::string(); }).status == 0;
  return can;
}

// A full disk: a tmpfs of 64 KiB mounted on `mountPoint` and filled until 8 KiB remain;
// dir() is an empty folder on it. Mounting needs root with CAP_SYS_ADMIN; where that fails,
// mounted() is false, dir() is an ordinary folder and the tests run the writer in a child
// under RLIMIT_FSIZE of 8 KiB instead, where a write fails midway as well (with EFBIG).
class TinyDisk {
 public:
  static constexpr long long kFree = 8192;

  explicit TinyDisk(const std::filesystem::path& mountPoint) : mountPoint_(mountPoint) {
    std::filesystem::create_directories(mountPoint);
    // TAVRIX_TEST_FULL_DISK=rlimit tries the stand-in where mounting would work.
    const char* choice = std::getenv("TAVRIX_TEST_FULL_DISK");
    const bool tryMount = !(choice && std::string(choice) == "rlimit");
    if (tryMount && geteuid() == 0 && mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=64k") == 0) {
      mounted_ = true;
      const long long available = freeBytes();
      if (available <= kFree) throw std::runtime_error("the tmpfs is smaller than asked");
      std::ofstream(mountPoint / "filler", std::ios::binary) << std::string(size_t(available - kFree), 'f');
    }
    std::filesystem::create_directory(dir());
  }
  ~TinyDisk() {
    if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
  }
  TinyDisk(const TinyDisk&) = delete;
  TinyDisk& operator=(const TinyDisk&) = delete;

  std::filesystem::path dir() const { return mountPoint_ / "out"; }
  bool mounted() const { return mounted_; }
  long long freeBytes() const {
    struct statvfs fs {};
    if (statvfs(mountPoint_.c_str(), &fs) != 0) return -1;
    return (long long)fs.f_bavail * (long long)fs.f_frsize;
  }
  // The error of a write that does not fit, and the limits a writer runs under.
  int error() const { return mounted_ ? ENOSPC : EFBIG; }
  ChildLimits limits() const { return {false, mounted_ ? -1 : kFree}; }
  const char* method() const { return mounted_ ? "tmpfs of 64 KiB with 8 KiB free (ENOSPC)" : "RLIMIT_FSIZE of 8 KiB in a child (EFBIG)"; }

 private:
  std::filesystem::path mountPoint_;
  bool mounted_ = false;
};

}  // namespace tavrix::testing
