#include <unistd.h>

#include "platform/unique_fd.h"

namespace vn::platform {

void UniqueFd::Reset() { (void)Close(); }

bool UniqueFd::Close() {
  if (fd < 0) return true;
  const int result = close(std::exchange(fd, -1));
  return result == 0;
}

}  // namespace vn::platform
