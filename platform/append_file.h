#pragma once

// A download's partial file, written by appending. Each Write is one or more
// write calls straight to the file (no user-space buffer), so a failed write
// is seen at once and carries the system's own reason ("No space left on
// device"), which is what a user needs to act on.

#include <filesystem>
#include <string>

#include "platform/unique_fd.h"

namespace vn::platform {

// Owned and used by one thread; closed by Close or the destructor.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens path for appending, creating it; truncate empties it first. Closes
  // what was open before. False when it cannot be opened (see ErrorText). On
  // Windows in binary mode, not inherited by programs started later.
  bool Open(const std::filesystem::path& path, bool truncate);
  // Writes all of data; false on the first failed write call.
  bool Write(const char* data, std::size_t size);
  // False when closing reported an error; true when nothing was open.
  bool Close();
  // The system's text for the last failure ("No space left on device").
  const std::string& ErrorText() const { return errorText; }

 private:
  bool Fail();
  UniqueFd fd;
  std::string errorText;
};

}  // namespace vn::platform
