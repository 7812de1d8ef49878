// Windows file lock: LockFileEx on a C-runtime descriptor's handle, retried
// until the time-out, since LockFileEx itself waits without a bound.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <thread>
#include <utility>

#include "platform/file_lock.h"

namespace vn::platform {
namespace {

constexpr std::chrono::milliseconds kRetryPause{10};

bool TryLock(int fd) {
  OVERLAPPED whole{};
  return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)),
                    LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                    &whole) != 0;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::Acquire(const std::filesystem::path& lockFile,
                                            std::chrono::milliseconds timeout) {
  const int fd = _wopen(lockFile.wstring().c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::unique_ptr<FileLock> lock(new FileLock(UniqueFd(fd)));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!TryLock(fd)) {
    if (std::chrono::steady_clock::now() >= deadline) return nullptr;
    std::this_thread::sleep_for(kRetryPause);
  }
  return lock;
}

FileLock::FileLock(UniqueFd fd) : fd(std::move(fd)) {}

// Closing the descriptor releases the lock.
FileLock::~FileLock() = default;

}  // namespace vn::platform
