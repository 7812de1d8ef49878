// Windows output file: a C-runtime descriptor in binary mode, appended to
// through a 1 MiB buffer (there is no in-kernel copy between two handles).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/output_file.h"

namespace vn::platform {
namespace {

constexpr std::size_t kBufferCopyChunk = 1048576;

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const int written = _write(fd, data, static_cast<unsigned>(std::min(size, kBufferCopyChunk)));
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Closes on every path; owned by one function.
struct SourceFile {
  explicit SourceFile(const std::filesystem::path& path)
      : fd(_wopen(path.wstring().c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT)) {}
  ~SourceFile() {
    if (fd >= 0) _close(fd);
  }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  int fd;
};

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::filesystem::path& path) {
  const int fd = _wopen(path.wstring().c_str(),
                        _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  return std::unique_ptr<OutputFile>(new OutputFile(UniqueFd(fd)));
}

OutputFile::OutputFile(UniqueFd fd) : fd(std::move(fd)) {}

OutputFile::~OutputFile() { Close(); }

std::int64_t OutputFile::AppendFileRange(const std::filesystem::path& source, std::int64_t length,
                                         const std::function<void(std::int64_t)>& progress) {
  const SourceFile input(source);
  if (input.fd < 0) return 0;
  std::vector<char> buffer(kBufferCopyChunk);
  std::int64_t appended = 0;
  while (appended < length) {
    const auto want = static_cast<unsigned>(
        std::min<std::int64_t>(length - appended, static_cast<std::int64_t>(buffer.size())));
    const int got = _read(input.fd, buffer.data(), want);
    if (got <= 0) break;  // what could be read is kept; the size check decides
    if (!WriteAll(fd.Get(), buffer.data(), static_cast<std::size_t>(got))) return -1;
    appended += got;
    if (progress) progress(got);
  }
  return appended;
}

bool OutputFile::Close() { return fd.Close(); }

}  // namespace vn::platform
