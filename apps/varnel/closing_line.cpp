#include "apps/varnel/closing_line.h"

#include <algorithm>
#include <cstdio>

#include "apps/protocol/status_texts.h"
#include "apps/varnel/byte_units.h"

namespace vn::cli {
namespace {

// Enough of the digest to compare by eye with a published one.
constexpr std::size_t kShownDigestChars = 16;

// "0.4s", "12.3s" below a minute, then as FormatDuration gives it.
std::string FormatElapsed(std::chrono::milliseconds elapsed) {
  if (elapsed < std::chrono::minutes(1)) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1fs", static_cast<double>(elapsed.count()) / 1000.0);
    return text;
  }
  return FormatDuration(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
}

}  // namespace

std::string RenderClosingLine(const DownloadEnd& end) {
  const TaskView& task = end.task;
  const bool completed = task.status == status_text::kCompleted;
  std::string line = Printable(task.fileName) + ": " + FormatBytes(task.downloadedBytes);
  if (!completed && task.totalBytes > 0) line += " of " + FormatBytes(task.totalBytes);
  const auto waited = std::max(end.waited, std::chrono::milliseconds(1));
  const std::int64_t arrived = std::max<std::int64_t>(0, task.downloadedBytes - end.bytesAtStart);
  line += " in " + FormatElapsed(end.waited) + ", " +
          FormatRate(static_cast<std::int64_t>(static_cast<double>(arrived) * 1000.0 /
                                               static_cast<double>(waited.count())));
  if (!completed) return line + ", " + Printable(task.status);
  if (end.actualChecksum.empty()) return line;
  return line + (end.expectedChecksum.empty() ? ", SHA-256 computed " : ", SHA-256 verified ") +
         Printable(end.actualChecksum.substr(0, kShownDigestChars));
}

}  // namespace vn::cli
