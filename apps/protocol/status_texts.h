#pragma once

// The text forms of a download's status, as list_downloads gives them in each
// task's "status" member.

#include <chrono>
#include <string>

namespace vn::status_text {

inline constexpr const char* kQueued = "Queued";
inline constexpr const char* kStarting = "Starting";
inline constexpr const char* kDownloading = "Downloading";
inline constexpr const char* kPaused = "Paused";
inline constexpr const char* kCompleted = "Completed";
inline constexpr const char* kFailed = "Failed";
inline constexpr const char* kVerifying = "Verifying";
inline constexpr const char* kCancelled = "Cancelled";

// A Downloading task whose "failureReason" begins with this waits out a
// failure that may pass (a server that is down, a 503): the text then reads
// "waiting: <cause>, next try in <N> s", N as of the last report.
inline constexpr const char* kWaitingPrefix = "waiting: ";

inline std::string WaitingText(const std::string& cause, std::chrono::seconds left) {
  return kWaitingPrefix + cause + ", next try in " + std::to_string(left.count()) + " s";
}

}  // namespace vn::status_text
