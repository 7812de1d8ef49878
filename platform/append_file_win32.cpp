// Windows: a C-runtime descriptor in binary mode (no newline translation),
// not inherited by programs the service starts.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include "platform/append_file.h"

namespace vn::platform {

bool AppendFile::Open(const std::filesystem::path& path, bool truncate) {
  Close();
  fd = UniqueFd(_wopen(path.wstring().c_str(),
                       _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT |
                           (truncate ? _O_TRUNC : 0),
                       _S_IREAD | _S_IWRITE));
  return fd.Valid() || Fail();
}

bool AppendFile::Write(const char* data, std::size_t size) {
  if (!fd.Valid()) {
    errno = EBADF;
    return Fail();
  }
  while (size > 0) {
    // _write takes an unsigned count; larger writes go in pieces.
    const auto chunk = static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX));
    const int written = _write(fd.Get(), data, chunk);
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
