#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <random>
#include <string>

#include "platform/file_replace.h"
#include "platform/unique_fd.h"
#include "platform/write_all_unix.h"

namespace vn::platform {
namespace {

bool CopyAll(int from, int to) {
  char buffer[65536];
  while (true) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(to, buffer, static_cast<std::size_t>(got))) return false;
  }
}

// A hidden name beside target that no other process picks at the same moment.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& target) {
  std::random_device source;
  const std::string suffix = std::to_string(source()) + std::to_string(source());
  return target.parent_path() / ("." + target.filename().string() + "." + suffix + ".tmp");
}

void SyncFolder(const std::filesystem::path& folder) {
  const UniqueFd fd(
      open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() >= 0) fsync(fd.Get());
}

// The common steps; fill writes the content into the temporary file.
template <typename Fill>
bool Replace(const std::filesystem::path& target, Fill fill) {
  const std::filesystem::path temporary = TemporaryPathFor(target);
  UniqueFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.Get() < 0) return false;
  const bool written = fill(fd.Get()) && fsync(fd.Get()) == 0;
  if (!fd.Close() || !written || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  SyncFolder(target.parent_path());
  return true;
}

}  // namespace

bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content) {
  return Replace(target, [&](int fd) { return WriteAll(fd, content.data(), content.size()); });
}

bool ReplaceFileWithCopy(const std::filesystem::path& target, const std::filesystem::path& source) {
  const UniqueFd input(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.Get() < 0) return false;
  return Replace(target, [&](int fd) { return CopyAll(input.Get(), fd); });
}

MoveOutcome MoveWithoutReplacing(const std::filesystem::path& from,
                                 const std::filesystem::path& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return MoveOutcome::kMoved;
  }
  if (errno == EEXIST) return MoveOutcome::kTargetExists;
  if (errno != EINVAL && errno != ENOSYS) return MoveOutcome::kFailed;
  // A file system without the flag: a hard link is created only where no name
  // exists, which is the same promise.
  if (link(from.c_str(), to.c_str()) != 0) {
    return errno == EEXIST ? MoveOutcome::kTargetExists : MoveOutcome::kFailed;
  }
  unlink(from.c_str());
  return MoveOutcome::kMoved;
}

}  // namespace vn::platform
