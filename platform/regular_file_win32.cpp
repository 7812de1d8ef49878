// Windows: the C runtime's descriptors. Opening never blocks here (a pipe with
// no free instance fails at once), so the type check after opening is enough;
// a folder cannot be opened at all and is named before the system's text.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "platform/regular_file.h"
#include "platform/unique_fd.h"

namespace vn::platform {
namespace {

std::runtime_error SystemError(int error) { return std::runtime_error(std::strerror(error)); }

}  // namespace

std::string ReadRegularFile(const std::filesystem::path& path, std::size_t maxBytes) {
  const UniqueFd fd(_wopen(path.wstring().c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
  if (!fd.Valid()) {
    const int error = errno;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
      throw std::runtime_error("not a regular file");
    }
    throw SystemError(error);
  }

  struct _stat64 info {};
  if (_fstat64(fd.Get(), &info) != 0) throw SystemError(errno);
  // A device name (NUL, CON, COM1) opens as a character device.
  if ((info.st_mode & _S_IFMT) != _S_IFREG) throw std::runtime_error("not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
    throw std::runtime_error("file too large");
  }

  std::string content;
  content.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  // The file may grow meanwhile: the bound holds for what is read.
  while (true) {
    const int got = _read(fd.Get(), buffer, sizeof buffer);
    if (got < 0) throw SystemError(errno);
    if (got == 0) break;
    if (content.size() + static_cast<std::size_t>(got) > maxBytes) {
      throw std::runtime_error("file too large");
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

}  // namespace vn::platform
