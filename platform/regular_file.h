#pragma once

// Reading a small file that a client names. A path can name a FIFO, a device
// or a folder as easily as a file; opening a FIFO for reading blocks until a
// writer comes, so the check must come before any blocking read.

#include <cstddef>
#include <filesystem>
#include <string>

namespace vn::platform {

// The whole content of path, which must be a regular file of at most maxBytes.
// Opens without blocking and checks what it opened, so a FIFO, a device or a
// folder is refused at once. Throws std::runtime_error with "not a regular
// file", "file too large" or the system's text (e.g. "No such file or
// directory"). Any thread. On Windows opening never blocks (a pipe with no
// free instance fails at once); a device name such as NUL opens and is then
// refused.
std::string ReadRegularFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace vn::platform
