#pragma once

// An exclusive lock between processes, held on a lock file, for a
// read-modify-write of a shared file that several programs may run at once.

#include <chrono>
#include <filesystem>
#include <memory>

#include "platform/unique_fd.h"

namespace vn::platform {

// Owned by one thread; the lock is released by the destructor. The lock file
// is created when missing (mode 0600) and never removed: removing it would let
// two processes lock two different files of the same name. On Windows the lock
// is LockFileEx on the whole file and the file is opened with no mode bits.
class FileLock {
 public:
  // Waits at most timeout for the lock. Null when the lock file cannot be
  // opened (a symbolic link is never followed) or the wait ran out.
  static std::unique_ptr<FileLock> Acquire(const std::filesystem::path& lockFile,
                                           std::chrono::milliseconds timeout);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  explicit FileLock(UniqueFd fd);
  UniqueFd fd;
};

}  // namespace vn::platform
