#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <stdexcept>

#include "platform/link_free_folder.h"
#include "platform/unique_fd.h"
#include "platform/write_all_unix.h"

namespace vn::platform {
namespace {

std::runtime_error SystemError(int error) { return std::runtime_error(std::strerror(error)); }

}  // namespace

struct LinkFreeFolder::State {
  UniqueFd folder;
};

LinkFreeFolder::LinkFreeFolder(const std::filesystem::path& path)
    : state(std::make_unique<State>()) {
  state->folder = UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (state->folder.Valid()) return;
  const int error = errno;
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    throw std::runtime_error("is a symbolic link");
  }
  if (error == ENOTDIR) throw std::runtime_error("is not a folder");
  throw SystemError(error);
}

LinkFreeFolder::~LinkFreeFolder() = default;

LinkFreeFolder::Content LinkFreeFolder::Read(const std::string& name, std::size_t maxBytes) const {
  Content content;
  // O_NONBLOCK: a FIFO without a writer opens at once and is then refused.
  const UniqueFd fd(openat(state->folder.Get(), name.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT) return content;
    if (errno == ELOOP) {
      content.entry = Entry::kOther;
      return content;
    }
    throw SystemError(errno);
  }
  struct stat info {};
  if (fstat(fd.Get(), &info) != 0) throw SystemError(errno);
  content.entry = S_ISREG(info.st_mode) ? Entry::kFile : Entry::kOther;
  if (content.entry != Entry::kFile) return content;
  char buffer[65536];
  while (true) {
    const ssize_t got = read(fd.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw SystemError(errno);
    if (got == 0) return content;
    if (content.bytes.size() + static_cast<std::size_t>(got) > maxBytes) {
      throw std::runtime_error("file too large");
    }
    content.bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

bool LinkFreeFolder::Replace(const std::string& name, std::string_view content) const {
  std::random_device source;
  const std::string temporary =
      "." + name + "." + std::to_string(source()) + std::to_string(source()) + ".tmp";
  const int folder = state->folder.Get();
  UniqueFd fd(openat(folder, temporary.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.Valid()) return false;
  const bool written = WriteAll(fd.Get(), content.data(), content.size()) && fsync(fd.Get()) == 0;
  if (!fd.Close() || !written || renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    unlinkat(folder, temporary.c_str(), 0);
    return false;
  }
  fsync(folder);
  return true;
}

bool LinkFreeFolder::Rename(const std::string& from, const std::string& to) const {
  const int folder = state->folder.Get();
  if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a new name is linked only where none exists.
  if (linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return false;
  unlinkat(folder, from.c_str(), 0);
  return true;
}

bool LinkFreeFolder::Remove(const std::string& name) const {
  return unlinkat(state->folder.Get(), name.c_str(), 0) == 0;
}

}  // namespace vn::platform
