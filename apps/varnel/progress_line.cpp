#include "apps/varnel/progress_line.h"

#include <cmath>
#include <cstdio>

#include "apps/varnel/byte_units.h"
#include "apps/varnel/text_width.h"

namespace vn::cli {
namespace {

constexpr std::size_t kMinBarColumns = 10;

std::string Percent(double percent) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.1f%%", percent);
  return buffer;
}

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (const auto& part : parts) {
    if (part.empty()) continue;
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

std::string BytesPart(const TaskView& task, std::string_view between) {
  if (task.totalBytes <= 0) return FormatBytes(task.downloadedBytes);
  return FormatBytes(task.downloadedBytes) + std::string(between) + FormatBytes(task.totalBytes);
}

std::string Connections(const TaskView& task, std::string_view word) {
  if (task.status != "Downloading" || task.connectionCount <= 0) return {};
  return std::to_string(task.connectionCount) + " " + std::string(word);
}

std::string Bar(double percent, std::size_t inner) {
  const auto filled = static_cast<std::size_t>(std::floor(percent / 100.0 * inner));
  std::string bar(inner, ' ');
  for (std::size_t i = 0; i < filled && i < inner; ++i) bar[i] = '=';
  if (filled < inner) bar[filled] = '>';
  return "[" + bar + "]";
}

}  // namespace

std::optional<std::int64_t> SecondsLeft(const TaskView& task) {
  if (task.status != "Downloading" || task.speedBytesPerSecond <= 0 || task.totalBytes <= 0) {
    return std::nullopt;
  }
  const std::int64_t remaining = std::max<std::int64_t>(task.totalBytes - task.downloadedBytes, 0);
  return (remaining + task.speedBytesPerSecond - 1) / task.speedBytesPerSecond;
}

std::string RenderProgressBar(const TaskView& task, std::size_t width) {
  const auto percent = PercentDone(task);
  const auto left = SecondsLeft(task);
  const std::string info =
      Join({task.status == "Downloading" ? "" : Printable(task.status),
            percent ? Percent(*percent) : "", BytesPart(task, " / "),
            task.speedBytesPerSecond > 0 ? FormatRate(task.speedBytesPerSecond) : "",
            left ? "ETA " + FormatDuration(*left) : "", Connections(task, "conn")},
           "  ");
  const std::size_t infoWidth = DisplayWidth(info);
  if (percent && infoWidth + 3 + kMinBarColumns <= width) {
    return Bar(*percent, width - infoWidth - 3) + " " + info;
  }
  return TruncateToWidth(info, width);
}

std::string RenderProgressText(const TaskView& task) {
  const auto percent = PercentDone(task);
  const auto left = SecondsLeft(task);
  const std::string head = Join({Printable(task.id), Printable(task.status),
                                 percent ? Percent(*percent) : "", BytesPart(task, " of ")},
                                " ");
  const std::string tail =
      Join({task.speedBytesPerSecond > 0 ? FormatRate(task.speedBytesPerSecond) : "",
            left ? "ETA " + FormatDuration(*left) : "", Connections(task, "connections")},
           ", ");
  return tail.empty() ? head : head + ", " + tail;
}

}  // namespace vn::cli
