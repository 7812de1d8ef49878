#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

namespace vn::platform {
namespace {

constexpr std::chrono::milliseconds kRetryStep{2};

}  // namespace

std::unique_ptr<FileLock> FileLock::Acquire(const std::filesystem::path& lockFile,
                                            std::chrono::milliseconds timeout) {
  UniqueFd owned(open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!owned.Valid()) return nullptr;
  const int fd = owned.Get();
  std::unique_ptr<FileLock> lock(new FileLock(std::move(owned)));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Polled rather than blocking, so the wait stays bounded without signals.
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      return nullptr;
    }
    std::this_thread::sleep_for(kRetryStep);
  }
  return lock;
}

FileLock::FileLock(UniqueFd fd) : fd(std::move(fd)) {}

FileLock::~FileLock() = default;

}  // namespace vn::platform
