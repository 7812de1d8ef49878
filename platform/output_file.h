#pragma once

// A file written once from other files, as a download's partial files are
// joined into its final file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace vn::platform {

// Owned and used by one thread. The file is closed by Close or the destructor.
class OutputFile {
 public:
  // Creates or truncates path; null when it cannot be opened for writing or is
  // a symbolic link (never followed).
  static std::unique_ptr<OutputFile> Create(const std::filesystem::path& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Moves all of source into this file from offset on, last chunk (8 MiB)
  // first, cutting each chunk off source once it is written. The two files
  // together never need more space than source's size plus one chunk, and
  // after a failure part-way source still holds, from its start, exactly the
  // bytes not moved yet. Source is opened without following a symbolic link (on
  // Windows: a reparse point is refused).
  // progress receives each moved chunk's size. Returns the bytes moved, 0 when
  // source cannot be opened, -1 when writing or cutting failed (ErrorText).
  std::int64_t MoveFileInto(const std::filesystem::path& source, std::int64_t offset,
                            const std::function<void(std::int64_t)>& progress);

  // False when closing reported an error (ErrorText).
  bool Close();

  // The system's text for the last failure ("No space left on device").
  const std::string& ErrorText() const { return errorText; }

 private:
  explicit OutputFile(UniqueFd fd);
  // Records errno's text; returns false.
  bool Fail();
  // Copies length bytes at from in source to to in this file.
  bool CopyRange(int source, std::int64_t from, std::int64_t to, std::int64_t length);
  UniqueFd fd;
  std::string errorText;
};

}  // namespace vn::platform
