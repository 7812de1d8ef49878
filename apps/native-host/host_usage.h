#pragma once

// What `native-host --help` prints: what the program is, who starts it, and
// where the files it uses are for the user who asks (resolved from the
// environment; nothing created but the runtime folder that resolving the
// service's socket may make).

#include <string>

namespace vn {

std::string HostUsage();

}  // namespace vn
