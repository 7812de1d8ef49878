#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/output_file.h"
#include "platform/unique_fd.h"

namespace vn::platform {
namespace {

// Large enough that system calls cost little, small enough for steady progress
// and a small margin of free space while moving.
constexpr std::int64_t kKernelCopyChunk = 8 * 1048576;
constexpr std::size_t kBufferCopyChunk = 1048576;

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::filesystem::path& path) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd.Valid()) return nullptr;
  return std::unique_ptr<OutputFile>(new OutputFile(std::move(fd)));
}

OutputFile::OutputFile(UniqueFd fd) : fd(std::move(fd)) {}

OutputFile::~OutputFile() { Close(); }

std::int64_t OutputFile::MoveFileInto(const std::filesystem::path& source, std::int64_t offset,
                                      const std::function<void(std::int64_t)>& progress) {
  const UniqueFd input(open(source.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!input.Valid()) return 0;
  const off_t size = lseek(input.Get(), 0, SEEK_END);
  if (size < 0) {
    Fail();
    return -1;
  }
  std::int64_t left = size;
  while (left > 0) {
    const std::int64_t chunk = std::min<std::int64_t>(left, kKernelCopyChunk);
    if (!CopyRange(input.Get(), left - chunk, offset + left - chunk, chunk)) return -1;
    // Cut only once the bytes are in this file: a crash in between leaves them
    // in both, never in neither.
    if (ftruncate(input.Get(), left - chunk) != 0) {
      Fail();
      return -1;
    }
    left -= chunk;
    if (progress) progress(chunk);
  }
  return size;
}

bool OutputFile::CopyRange(int source, std::int64_t from, std::int64_t to, std::int64_t length) {
  bool kernelCopy = true;
  std::vector<char> buffer;
  while (length > 0) {
    ssize_t copied;
    if (kernelCopy) {
      loff_t in = from;
      loff_t out = to;
      copied = copy_file_range(source, &in, fd.Get(), &out, static_cast<std::size_t>(length), 0);
      if (copied < 0 && errno == EINTR) continue;
      if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                         errno == EOPNOTSUPP || errno == EBADF)) {
        kernelCopy = false;  // this pair of files needs the copy through memory
        continue;
      }
      if (copied < 0) return Fail();
    } else {
      if (buffer.empty()) buffer.resize(kBufferCopyChunk);
      copied = pread(source, buffer.data(),
                     static_cast<std::size_t>(std::min<std::int64_t>(length, kBufferCopyChunk)),
                     from);
      if (copied < 0 && errno == EINTR) continue;
      if (copied < 0) return Fail();
      for (ssize_t done = 0; done < copied;) {
        const ssize_t written = pwrite(fd.Get(), buffer.data() + done,
                                       static_cast<std::size_t>(copied - done), to + done);
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = EIO;
        if (written <= 0) return Fail();
        done += written;
      }
    }
    if (copied == 0) {
      errno = EIO;  // the source ended before its own size: it changed under us
      return Fail();
    }
    from += copied;
    to += copied;
    length -= copied;
  }
  return true;
}

bool OutputFile::Close() { return fd.Close() || Fail(); }

bool OutputFile::Fail() {
  errorText = std::generic_category().message(errno);
  return false;
}

}  // namespace vn::platform
