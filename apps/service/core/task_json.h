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

// {"downloads":[...],"ok":true} for tasks, byte for byte what CompactJson of
// the TaskToJson objects gives (bytes that are not valid UTF-8 included, which
// become U+FFFD), written straight to text because long lists are answered
// often.
std::string ListDownloadsAnswer(const std::vector<DownloadTask>& tasks);

}  // namespace vn
