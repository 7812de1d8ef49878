#pragma once

#include <sys/resource.h>

#include <csignal>

namespace vn::test {

// Caps the size of files this process may write, so that writes beyond it fail
// (EFBIG instead of the default SIGXFSZ). For the scope of one test step.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved{};
  void (*previousHandler)(int) = nullptr;
};

}  // namespace vn::test
