// On Windows the descriptors are the C runtime's (_wopen), closed with _close.
#include <io.h>

#include "platform/unique_fd.h"

namespace vn::platform {

void UniqueFd::Reset() { (void)Close(); }

bool UniqueFd::Close() {
  if (fd < 0) return true;
  return _close(std::exchange(fd, -1)) == 0;
}

}  // namespace vn::platform
