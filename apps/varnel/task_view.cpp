#include "apps/varnel/task_view.h"

#include <algorithm>
#include <stdexcept>

#include "apps/protocol/command_names.h"
#include "apps/protocol/status_texts.h"

namespace vn::cli {
namespace {

// The byte length of the UTF-8 character at text[at] when it is one of the
// invisible format characters that reorder or hide text on a terminal, else 0:
// the bidirectional embeddings, overrides, isolates and marks (a name
// "\u202Egpj.exe" shows as "exe.jpg"), the zero-width characters and joiners,
// the line and paragraph separators, and the byte order mark.
std::size_t InvisibleFormatLength(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t offset) {
    return at + offset < text.size() ? static_cast<unsigned char>(text[at + offset]) : 0;
  };
  if (byte(0) == 0xd8 && byte(1) == 0x9c) return 2;                     // U+061C arabic letter mark
  if (byte(0) == 0xe1 && byte(1) == 0xa0 && byte(2) == 0x8e) return 3;  // U+180E
  if (byte(0) == 0xef && byte(1) == 0xbb && byte(2) == 0xbf) return 3;  // U+FEFF
  if (byte(0) != 0xe2) return 0;
  const unsigned code = 0x2000 + ((byte(1) & 0x3fu) << 6) + (byte(2) & 0x3fu);
  if ((byte(1) & 0xc0) != 0x80 || (byte(2) & 0xc0) != 0x80 || byte(1) > 0x81) return 0;
  const bool invisible = (code >= 0x200b && code <= 0x200f) || (code >= 0x2028 && code <= 0x202e) ||
                         (code >= 0x2060 && code <= 0x2064) || (code >= 0x2066 && code <= 0x206f);
  return invisible ? 3 : 0;
}

}  // namespace

TaskView ReadTaskView(const nlohmann::json& task) {
  TaskView view;
  view.id = task.value(member::kId, std::string());
  view.fileName = task.value(member::kFileName, std::string());
  view.status = task.value(member::kStatus, std::string());
  view.failureReason = task.value(member::kFailureReason, std::string());
  view.downloadedBytes = task.value(member::kDownloadedBytes, std::int64_t{0});
  view.totalBytes = task.value(member::kTotalBytes, std::int64_t{0});
  view.speedBytesPerSecond = task.value(member::kSpeedBytesPerSecond, std::int64_t{0});
  view.finalizeDone = task.value(member::kFinalizeDone, std::int64_t{0});
  view.finalizeTotal = task.value(member::kFinalizeTotal, std::int64_t{0});
  view.connectionCount = task.value(member::kConnectionCount, 0);
  view.isTorrent = task.value(member::kIsTorrent, false);
  return view;
}

std::vector<TaskView> ReadTaskList(const nlohmann::json& answer) {
  if (!answer.is_object() || !answer.contains(member::kDownloads) ||
      !answer[member::kDownloads].is_array()) {
    throw std::runtime_error("the service's list has no downloads array");
  }
  std::vector<TaskView> tasks;
  tasks.reserve(answer[member::kDownloads].size());
  for (const auto& task : answer[member::kDownloads]) tasks.push_back(ReadTaskView(task));
  return tasks;
}

std::optional<TaskView> FindTask(const std::vector<TaskView>& tasks, const std::string& id) {
  const auto found =
      std::find_if(tasks.begin(), tasks.end(), [&](const TaskView& task) { return task.id == id; });
  if (found == tasks.end()) return std::nullopt;
  return *found;
}

std::optional<double> PercentDone(const TaskView& task) {
  if (task.status == status_text::kCompleted) return 100.0;
  std::int64_t done = task.downloadedBytes;
  std::int64_t total = task.totalBytes;
  if (task.status == status_text::kVerifying && task.finalizeTotal > 0) {
    done = task.finalizeDone;
    total = task.finalizeTotal;
  }
  if (total <= 0) return std::nullopt;
  const double percent = 100.0 * static_cast<double>(done) / static_cast<double>(total);
  return std::clamp(percent, 0.0, 100.0);
}

bool HasEnded(const TaskView& task) {
  // Torrents too: the service lists one Paused only when a client paused (or
  // cancelled) it; libtorrent's own queue shows as Queued.
  return task.status == status_text::kCompleted || task.status == status_text::kFailed ||
         task.status == status_text::kCancelled || task.status == status_text::kPaused;
}

std::string Printable(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (const std::size_t length = InvisibleFormatLength(text, i)) {
      result.push_back('?');
      i += length - 1;
    } else if (byte < 0x20 || byte == 0x7f) {
      result.push_back('?');
    } else if (byte == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // U+0080 to U+009F: the C1 controls, which some terminals obey too.
      result.push_back('?');
      ++i;
    } else {
      result.push_back(text[i]);
    }
  }
  return result;
}

}  // namespace vn::cli
