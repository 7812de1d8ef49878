#pragma once

// What `service --help` prints: what the program is, how it is started, and
// where its files are for the user who asks (resolved from the environment,
// nothing created but the runtime folder that resolving the socket may make).

#include <string>

namespace vn {

std::string ServiceUsage();

}  // namespace vn
