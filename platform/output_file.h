#pragma once

// A file written once from start to end by appending other files to it, as a
// download's partial files are joined into its final file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/unique_fd.h"

namespace vn::platform {

// Owned and used by one thread. The file is closed by Close or the destructor.
class OutputFile {
 public:
  // Creates or truncates path; null when it cannot be opened for writing.
  static std::unique_ptr<OutputFile> Create(const std::filesystem::path& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Appends the first `length` bytes of source (fewer when it is shorter),
  // inside the kernel where the file systems allow it (copy_file_range), else
  // through a 1 MiB buffer (always on Windows); progress receives each copied
  // chunk's size.
  // Returns the bytes appended, 0 when source cannot be opened, -1 when
  // writing failed.
  std::int64_t AppendFileRange(const std::filesystem::path& source, std::int64_t length,
                               const std::function<void(std::int64_t)>& progress);

  // False when closing reported an error.
  bool Close();

 private:
  explicit OutputFile(UniqueFd fd);
  UniqueFd fd;
};

}  // namespace vn::platform
