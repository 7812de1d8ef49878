#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "apps/service/task/download_task.h"

namespace vn {

// The 14-member object that list_downloads gives for one task; segments are
// numbered from 1 in list order.
nlohmann::json TaskToJson(const DownloadTask& task);

// {"downloads":[...],"ok":true} for tasks, byte for byte what dumping the
// TaskToJson objects gives, written straight to text because long lists are
// answered often. Throws the library's type error for text that is not valid
// UTF-8, as dumping does.
std::string ListDownloadsAnswer(const std::vector<DownloadTask>& tasks);

// Compact text, object members sorted, non-ASCII unescaped; throws the
// library's type error for text that is not valid UTF-8.
std::string DumpCompact(const nlohmann::json& value);

// {"error":text,"ok":false}; bytes of text that are not valid UTF-8 are
// replaced by U+FFFD so the answer is always valid JSON.
std::string ErrorAnswer(const std::string& text);

// {"ok":true}, {"ok":false}.
std::string OkAnswer(bool ok);

}  // namespace vn
