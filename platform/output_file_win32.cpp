// Windows output file: C-runtime descriptors in binary mode, moved through a
// 1 MiB buffer (there is no in-kernel copy between two handles).
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/output_file.h"

namespace vn::platform {
namespace {

constexpr std::int64_t kMoveChunk = 8 * 1048576;
constexpr std::size_t kBufferCopyChunk = 1048576;

// Closes on every path; owned by one function.
struct SourceFile {
  explicit SourceFile(const std::filesystem::path& path)
      : fd(_wopen(path.wstring().c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT)) {}
  ~SourceFile() {
    if (fd >= 0) _close(fd);
  }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  int fd;
};

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) return nullptr;
  const int fd = _wopen(path.wstring().c_str(),
                        _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  return std::unique_ptr<OutputFile>(new OutputFile(UniqueFd(fd)));
}

OutputFile::OutputFile(UniqueFd fd) : fd(std::move(fd)) {}

OutputFile::~OutputFile() { Close(); }

std::int64_t OutputFile::MoveFileInto(const std::filesystem::path& source, std::int64_t offset,
                                      const std::function<void(std::int64_t)>& progress) {
  std::error_code error;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(source, error))) return 0;
  const SourceFile input(source);
  if (input.fd < 0) return 0;
  const std::int64_t size = _lseeki64(input.fd, 0, SEEK_END);
  if (size < 0) {
    Fail();
    return -1;
  }
  std::int64_t left = size;
  while (left > 0) {
    const std::int64_t chunk = std::min(left, kMoveChunk);
    if (!CopyRange(input.fd, left - chunk, offset + left - chunk, chunk)) return -1;
    // Cut only once the bytes are in this file: a crash in between leaves them
    // in both, never in neither.
    if (_chsize_s(input.fd, left - chunk) != 0) {
      Fail();
      return -1;
    }
    left -= chunk;
    if (progress) progress(chunk);
  }
  return size;
}

bool OutputFile::CopyRange(int source, std::int64_t from, std::int64_t to, std::int64_t length) {
  std::vector<char> buffer(kBufferCopyChunk);
  if (_lseeki64(source, from, SEEK_SET) < 0 || _lseeki64(fd.Get(), to, SEEK_SET) < 0) return Fail();
  while (length > 0) {
    const auto want = static_cast<unsigned>(
        std::min<std::int64_t>(length, static_cast<std::int64_t>(buffer.size())));
    const int got = _read(source, buffer.data(), want);
    if (got < 0) return Fail();
    if (got == 0) {
      errno = EIO;  // the source ended before its own size: it changed under us
      return Fail();
    }
    for (int done = 0; done < got;) {
      const int written = _write(fd.Get(), buffer.data() + done, static_cast<unsigned>(got - done));
      if (written == 0) errno = EIO;
      if (written <= 0) return Fail();
      done += written;
    }
    length -= got;
  }
  return true;
}

bool OutputFile::Close() { return fd.Close() || Fail(); }

bool OutputFile::Fail() {
  errorText = std::generic_category().message(errno);
  return false;
}

}  // namespace vn::platform
