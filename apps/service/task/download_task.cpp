#include "apps/service/task/download_task.h"

#include <array>
#include <string_view>

#include "apps/protocol/status_texts.h"

namespace vn {
namespace {

// In the order of DownloadStatus.
constexpr std::array<std::string_view, 8> kStatusNames = {
    status_text::kQueued,    status_text::kStarting,  status_text::kDownloading,
    status_text::kPaused,    status_text::kCompleted, status_text::kFailed,
    status_text::kVerifying, status_text::kCancelled,
};

}  // namespace

std::int64_t SegmentLength(const DownloadSegment& segment) {
  return segment.end < segment.start ? 0 : segment.end - segment.start + 1;
}

void ZeroProgress(DownloadTask& task) {
  task.downloadedBytes = 0;
  for (auto& segment : task.segments) segment.downloadedBytes = 0;
}

std::int64_t SumDownloaded(const std::vector<DownloadSegment>& segments) {
  std::int64_t sum = 0;
  for (const auto& segment : segments) sum += segment.downloadedBytes;
  return sum;
}

std::string StatusText(DownloadStatus status) {
  const auto value = static_cast<std::int32_t>(status);
  if (value < 1 || value >= static_cast<std::int32_t>(kStatusNames.size())) {
    return std::string(kStatusNames[0]);
  }
  return std::string(kStatusNames[static_cast<std::size_t>(value)]);
}

DownloadStatus StatusFromText(const std::string& text) {
  for (std::size_t i = 1; i < kStatusNames.size(); ++i) {
    if (text == kStatusNames[i]) return static_cast<DownloadStatus>(i);
  }
  return DownloadStatus::Queued;
}

}  // namespace vn
