#pragma once

// `varnel doctor`: one screen of checks on this user's set-up, each failed one
// followed by the command or step that fixes it. Reads and probes only: it
// starts nothing, and the only files it writes are probe files that it removes
// at once. Main thread only.

#include "apps/varnel/console.h"
#include "apps/varnel/service_client.h"

namespace vn::cli {

// Exit 0 when every check passes, kExitDownloadFailed (1) otherwise.
int RunDoctor(const ServiceClient& client, Console& console);

}  // namespace vn::cli
