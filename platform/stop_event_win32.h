#pragma once

// The named event a user's download service waits on beside its pipe: set by
// a client, it asks the service to end in order, as SIGTERM does elsewhere. A
// detached service has no console, so console control events cannot reach it.
// Windows only.

#include <string>

namespace vn::platform {

// "Local\VarnelV2Stop-<the user's SID>": one per user within the session.
// Empty when the user's SID cannot be read.
std::wstring ServiceStopEventName();

}  // namespace vn::platform
