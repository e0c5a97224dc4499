#include "convert/kernels.h"

#include "convert/simd.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrix {

bool hasAvx512() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                          std::getenv("TAVRIX_NO_AVX512") == nullptr;
  return yes;
#else
  return false;
#endif
}

Kernels defaultKernels() {
  const char* v = std::getenv("TAVRIX_KERNELS");
  return v && std::strcmp(v, "plain") == 0 ? Kernels::Plain : Kernels::Fast;
}

namespace {

// Set while a thread runs a band: a band that asks for bands itself runs them inline.
thread_local bool inBand = false;

// Workers that live for the whole program: a conversion hands them work a hundred times
// or more, and starting threads each time would cost more than some of the work.
class Pool {
 public:
  Pool() {
    const unsigned n = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 1; i < n; ++i) workers_.emplace_back([this] { serve(); });
  }
  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
  }

  int size() const { return int(workers_.size()) + 1; }

  void run(int bands, const std::function<void(int)>& job) {
    std::unique_lock<std::mutex> caller(runLock_);  // one batch at a time
    {
      std::lock_guard<std::mutex> lock(m_);
      job_ = &job;
      bands_ = bands;
      next_ = 0;
      active_ = int(workers_.size());
      failure_ = nullptr;
      ++generation_;
    }
    wake_.notify_all();
    work();
    std::unique_lock<std::mutex> lock(m_);
    done_.wait(lock, [this] { return active_ == 0; });
    job_ = nullptr;
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void work() {
    for (int b; (b = next_.fetch_add(1)) < bands_;) {
      try {
        inBand = true;
        (*job_)(b);
        inBand = false;
      } catch (...) {
        inBand = false;
        std::lock_guard<std::mutex> lock(m_);
        if (!failure_) failure_ = std::current_exception();
      }
    }
  }
  void serve() {
    unsigned long seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(m_);
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
      }
      work();
      std::lock_guard<std::mutex> lock(m_);
      if (--active_ == 0) done_.notify_one();
    }
  }

  std::vector<std::thread> workers_;
  std::mutex m_, runLock_;
  std::condition_variable wake_, done_;
  const std::function<void(int)>* job_ = nullptr;
  std::atomic<int> next_{0};
  int bands_ = 0, active_ = 0;
  unsigned long generation_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
};

Pool& pool() {
  static Pool p;
  return p;
}

}  // namespace

int parallelWorkers() { return inBand ? 1 : pool().size(); }

void parallelBands(int count, int band, const std::function<void(int, int)>& body) {
  const int bands = (count + band - 1) / band;
  if (bands <= 1 || inBand) {
    if (count > 0) body(0, count);
    return;
  }
  pool().run(bands, [&](int b) { body(b * band, std::min(count, (b + 1) * band)); });
}

}  // namespace tavrix
