#pragma once

// The part of the service's list that one native message can carry: browsers
// take at most 1 MB from a host in one message, and a list of 10,000 downloads
// is some 3 MB. Pure function, any thread.

#include <cstddef>
#include <string>

namespace vn {

// Taken as decimal megabyte, below the browsers' 1 MiB, so every browser takes it.
inline constexpr std::size_t kMaxBrowserMessageBytes = 1000 * 1000;

// From the service's answer to list_downloads, {"downloads":[...],"ok":true,
// "total":N}: the `limit` newest downloads, newest first, where N counts them
// all. Newest means the latest id: ids carry their creation time
// ("dl_<ms>", "tor_<ms>_<n>"); an id of another form counts as oldest. The
// list ends before the first download that would take the answer past
// maxBytes (one too large for any answer is passed over). An answer that is
// not a successful list (the service's refusal, "Service unavailable") is
// returned unchanged; one that is not JSON gives "Unreadable service answer".
std::string NewestDownloads(const std::string& serviceAnswer, std::size_t limit,
                            std::size_t maxBytes = kMaxBrowserMessageBytes);

}  // namespace vn
