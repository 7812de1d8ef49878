#pragma once

// The text forms of a download's status, as list_downloads gives them in each
// task's "status" member.

namespace vn::status_text {

inline constexpr const char* kQueued = "Queued";
inline constexpr const char* kStarting = "Starting";
inline constexpr const char* kDownloading = "Downloading";
inline constexpr const char* kPaused = "Paused";
inline constexpr const char* kCompleted = "Completed";
inline constexpr const char* kFailed = "Failed";
inline constexpr const char* kVerifying = "Verifying";
inline constexpr const char* kCancelled = "Cancelled";

}  // namespace vn::status_text
