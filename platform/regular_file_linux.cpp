#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/regular_file.h"

namespace vn::platform {
namespace {

std::runtime_error SystemError(int error) { return std::runtime_error(std::strerror(error)); }

}  // namespace

std::string ReadRegularFile(const std::filesystem::path& path, std::size_t maxBytes) {
  // O_NONBLOCK: opening a FIFO that has no writer returns at once instead of
  // waiting for one; the type check below then refuses it.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw SystemError(errno);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};

  struct stat info {};
  if (fstat(fd, &info) != 0) throw SystemError(errno);
  if (!S_ISREG(info.st_mode)) throw std::runtime_error("not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
    throw std::runtime_error("file too large");
  }

  std::string content;
  content.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  // The file may grow meanwhile: the bound holds for what is read, not for
  // what fstat said.
  while (true) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw SystemError(errno);
    }
    if (got == 0) break;
    if (content.size() + static_cast<std::size_t>(got) > maxBytes) {
      throw std::runtime_error("file too large");
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

}  // namespace vn::platform
