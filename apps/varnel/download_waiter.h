#pragma once

// `--wait`: follows one download through list_downloads until it ends, showing
// its progress. Runs on the main thread; returns when the download ends, when
// the service goes away (exception), or when Ctrl-C arrives. Ctrl-C only ends
// the waiting: the service keeps the download going.

#include <chrono>
#include <string>

#include "apps/varnel/console.h"
#include "apps/varnel/service_client.h"

namespace vn::cli {

inline constexpr std::chrono::milliseconds kPollInterval{500};
// Output that is not a terminal gets a progress line at most this often, plus
// one on every status change.
inline constexpr std::chrono::seconds kPlainProgressInterval{5};

// Waits for the download id. Returns kExitSuccess when it completed, and
// kExitInterrupted on Ctrl-C or kExitTerminated on SIGTERM (after saying that
// the download goes on, naming SIGTERM). Throws DownloadFailed with the reason
// when it ended Failed, Cancelled or Paused or left the list, and
// ServiceUnavailable saying that the wait for the id was interrupted when the
// service goes away.
// The caller installs the stop-signal handlers first.
int WaitForDownload(const ServiceClient& client, Console& console, const std::string& id);

// Sleeps for duration in short steps; false as soon as a stop signal arrived.
bool SleepUnlessStopped(std::chrono::milliseconds duration);

}  // namespace vn::cli
