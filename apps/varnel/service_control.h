#pragma once

// `varnel service start|stop|status`, and the start on demand that every other
// subcommand makes when no service answers. With the user unit installed and
// enabled, starting and stopping go through `systemctl --user`; otherwise
// varnel starts the service program itself in the background, its output
// appended to ServiceLogPath(). The running service is found through its
// socket's peer credentials, never by process name. Main thread only.

#include <chrono>

#include "apps/varnel/console.h"
#include "apps/varnel/service_client.h"

namespace vn::cli {

inline constexpr const char* kUserUnitName = "varnel.service";
// A first start creates the database and the torrent session; later ones are quick.
inline constexpr std::chrono::seconds kServiceStartWait{30};
inline constexpr std::chrono::seconds kServiceStopWait{30};

// Starts the service and returns once its socket answers. Throws
// ServiceUnavailable naming the log when it cannot be started or does not
// answer in time.
void StartService();

// The hook for ServiceClient::StartOnDemand: starts the service and says so
// in one line on standard error.
void StartServiceOnDemand(Console& console);

int RunServiceStart(Console& console);
int RunServiceStop(Console& console);
// Exit 0 when the service runs, kExitServiceUnavailable when it does not.
int RunServiceStatus(const ServiceClient& client, Console& console);

}  // namespace vn::cli
