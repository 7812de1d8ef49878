#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "apps/protocol/answers.h"
#include "apps/protocol/json_text.h"
#include "apps/service/task/download_task.h"

namespace vn {

// The 14-member object that list_downloads gives for one task; segments are
// numbered from 1 in list order.
nlohmann::json TaskToJson(const DownloadTask& task);

// {"downloads":[...],"ok":true} for tasks and then more, byte for byte what
// CompactJson of the TaskToJson objects gives (bytes that are not valid UTF-8
// included, which become U+FFFD), written straight to text because long lists
// are answered often. Two lists, so that the caller's list is written where it
// lies instead of copied first.
std::string ListDownloadsAnswer(const std::vector<DownloadTask>& tasks,
                                const std::vector<DownloadTask>& more = {});

}  // namespace vn
