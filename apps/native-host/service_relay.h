#pragma once

// The service commands the browser may send through this host, for the
// extension's list of downloads: list_downloads, pause_download,
// resume_download and cancel_download, and nothing else (no delete, no enqueue
// that would pass by the capture rules). Single-threaded; every wait on the
// service is bounded.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace vn {

// How many downloads a list answer holds when the message names no `limit`,
// and the bounds a `limit` is held to.
inline constexpr std::size_t kDefaultListLimit = 200;
inline constexpr std::size_t kMaxListLimit = 1000;

// Longest list the host reads from the service (some 200,000 downloads).
inline constexpr std::size_t kMaxServiceListBytes = 64 * 1024 * 1024;

// True for the four command names above (exact, case-sensitive).
bool IsRelayedCommand(const std::string& type);

// The reply to a relayed message; message is a JSON object whose type
// IsRelayedCommand. pause, resume and cancel send the service
// {"id":...,"type":...} and return its answer unchanged; an `id` holding a
// zero byte, or too long for a request, names no download and is answered
// "Task not found" without asking. list_downloads answers NewestDownloads of
// the service's list. Members of the wrong JSON type throw nlohmann's
// type_error before the service is contacted.
std::string RelayCommand(const std::string& type, const nlohmann::json& message);

}  // namespace vn
