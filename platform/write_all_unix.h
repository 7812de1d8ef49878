#pragma once

// Writing a whole buffer to a descriptor, for the Unix backends.

#include <cstddef>

namespace vn::platform {

// Writes all of data to fd, retrying short writes and EINTR. False on the first
// failed write call (errno tells why). Any thread.
bool WriteAll(int fd, const char* data, std::size_t size);

}  // namespace vn::platform
