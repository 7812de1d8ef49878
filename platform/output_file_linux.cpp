#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/output_file.h"
#include "platform/unique_fd.h"
#include "platform/write_all_unix.h"

namespace vn::platform {
namespace {

// Large enough that system calls cost little, small enough for steady progress.
constexpr std::int64_t kKernelCopyChunk = 8 * 1048576;
constexpr std::size_t kBufferCopyChunk = 1048576;

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::filesystem::path& path) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.Valid()) return nullptr;
  return std::unique_ptr<OutputFile>(new OutputFile(std::move(fd)));
}

OutputFile::OutputFile(UniqueFd fd) : fd(std::move(fd)) {}

OutputFile::~OutputFile() { Close(); }

std::int64_t OutputFile::AppendFileRange(const std::filesystem::path& source, std::int64_t length,
                                         const std::function<void(std::int64_t)>& progress) {
  const UniqueFd input(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!input.Valid()) return 0;
  std::int64_t appended = 0;
  bool kernelCopy = true;
  std::vector<char> buffer;
  while (appended < length) {
    const std::int64_t want = std::min(length - appended, kKernelCopyChunk);
    ssize_t copied;
    if (kernelCopy) {
      copied = copy_file_range(input.Get(), nullptr, fd.Get(), nullptr,
                               static_cast<std::size_t>(want), 0);
      if (copied < 0 && errno == EINTR) continue;
      if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                         errno == EOPNOTSUPP || errno == EBADF)) {
        kernelCopy = false;  // this pair of files needs the copy through memory
        continue;
      }
      if (copied < 0) return -1;
    } else {
      if (buffer.empty()) buffer.resize(kBufferCopyChunk);
      copied = read(input.Get(), buffer.data(),
                    static_cast<std::size_t>(std::min<std::int64_t>(want, kBufferCopyChunk)));
      if (copied < 0 && errno == EINTR) continue;
      if (copied < 0) break;  // what could be read is kept; the size check decides
      if (copied > 0 && !WriteAll(fd.Get(), buffer.data(), static_cast<std::size_t>(copied)))
        return -1;
    }
    if (copied == 0) break;
    appended += copied;
    if (progress) progress(copied);
  }
  return appended;
}

bool OutputFile::Close() { return fd.Close(); }

}  // namespace vn::platform
