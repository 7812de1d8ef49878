#include "apps/varnel/progress_line.h"

#include <cmath>
#include <cstdio>

#include "apps/protocol/status_texts.h"
#include "apps/varnel/byte_units.h"
#include "apps/varnel/text_width.h"

namespace vn::cli {
namespace {

constexpr std::size_t kMinBarColumns = 10;
// Widest usual texts of the bar line's parts ("100.0%", "1023.9 MiB / 1023.9 MiB",
// "1023.9 KiB/s", "ETA 12h05m", "32 conn"), so the bar keeps its length while numbers change.
constexpr std::size_t kPercentColumns = 6;
constexpr std::size_t kBytesColumns = 23;
constexpr std::size_t kRateColumns = 12;
constexpr std::size_t kEtaColumns = 10;
constexpr std::size_t kConnectionColumns = 7;

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
  // While joining and hashing, the bytes of that phase, as the percentage shows.
  if (task.status == status_text::kVerifying && task.finalizeTotal > 0) {
    return FormatBytes(task.finalizeDone) + std::string(between) + FormatBytes(task.finalizeTotal);
  }
  if (task.totalBytes <= 0) return FormatBytes(task.downloadedBytes);
  return FormatBytes(task.downloadedBytes) + std::string(between) + FormatBytes(task.totalBytes);
}

std::string Connections(const TaskView& task, std::string_view word) {
  if (task.status != status_text::kDownloading || task.connectionCount <= 0) return {};
  const bool plural = task.connectionCount != 1 && word == "connection";
  return std::to_string(task.connectionCount) + " " + std::string(word) + (plural ? "s" : "");
}

std::string Bar(double percent, std::size_t inner) {
  const auto filled = static_cast<std::size_t>(std::floor(percent / 100.0 * inner));
  std::string bar(inner, ' ');
  for (std::size_t i = 0; i < filled && i < inner; ++i) bar[i] = '=';
  if (filled < inner) bar[filled] = '>';
  return "[" + bar + "]";
}

}  // namespace

std::string WaitingText(const TaskView& task) {
  if (task.status != status_text::kDownloading ||
      task.failureReason.rfind(status_text::kWaitingPrefix, 0) != 0) {
    return {};
  }
  return Printable(task.failureReason);
}

std::optional<std::int64_t> SecondsLeft(const TaskView& task) {
  if (task.status != status_text::kDownloading || task.speedBytesPerSecond <= 0 ||
      task.totalBytes <= 0) {
    return std::nullopt;
  }
  const std::int64_t remaining = std::max<std::int64_t>(task.totalBytes - task.downloadedBytes, 0);
  return (remaining + task.speedBytesPerSecond - 1) / task.speedBytesPerSecond;
}

std::string RenderProgressBar(const TaskView& task, std::size_t width) {
  const auto percent = PercentDone(task);
  const auto secondsLeft = SecondsLeft(task);
  // Padded beside a bar, so the bar keeps its length; as short as possible without.
  const auto info = [&](bool padded) {
    const auto fit = [padded](const std::string& text, std::size_t columns, bool alignRight) {
      if (!padded || DisplayWidth(text) >= columns) return text;
      return alignRight ? PadLeft(text, columns) : PadRight(text, columns);
    };
    return Join({task.status == status_text::kDownloading ? "" : Printable(task.status),
                 percent ? fit(Percent(*percent), kPercentColumns, true) : "",
                 fit(BytesPart(task, " / "), kBytesColumns, true),
                 fit(task.speedBytesPerSecond > 0 ? FormatRate(task.speedBytesPerSecond) : "",
                     kRateColumns, true),
                 fit(secondsLeft ? "ETA " + FormatDuration(*secondsLeft) : "", kEtaColumns, false),
                 WaitingText(task).empty() ? fit(Connections(task, "conn"), kConnectionColumns, false)
                                           : WaitingText(task)},
                "  ");
  };
  const std::string padded = info(true);
  const std::size_t paddedWidth = DisplayWidth(padded);
  if (percent && paddedWidth + 3 + kMinBarColumns <= width) {
    return Bar(*percent, width - paddedWidth - 3) + " " + padded;
  }
  return TruncateToWidth(info(false), width);
}

std::string RenderProgressText(const TaskView& task) {
  const auto percent = PercentDone(task);
  const auto left = SecondsLeft(task);
  const std::string head = Join({Printable(task.id), Printable(task.status),
                                 percent ? Percent(*percent) : "", BytesPart(task, " of ")},
                                " ");
  const std::string tail =
      Join({task.speedBytesPerSecond > 0 ? FormatRate(task.speedBytesPerSecond) : "",
            left ? "ETA " + FormatDuration(*left) : "",
            WaitingText(task).empty() ? Connections(task, "connection") : WaitingText(task)},
           ", ");
  return tail.empty() ? head : head + ", " + tail;
}

}  // namespace vn::cli
