#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <system_error>

#include "platform/append_file.h"

namespace vn::platform {

bool AppendFile::Open(const std::filesystem::path& path, bool truncate) {
  Close();
  fd = UniqueFd(open(path.c_str(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644));
  return fd.Valid() || Fail();
}

bool AppendFile::Write(const char* data, std::size_t size) {
  if (!fd.Valid()) {
    errno = EBADF;
    return Fail();
  }
  while (size > 0) {
    const ssize_t written = write(fd.Get(), data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return Fail();
    if (written == 0) {
      errno = EIO;
      return Fail();
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool AppendFile::Close() { return fd.Close() || Fail(); }

bool AppendFile::Fail() {
  errorText = std::generic_category().message(errno);
  return false;
}

}  // namespace vn::platform
