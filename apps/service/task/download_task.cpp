#include "apps/service/task/download_task.h"

#include <array>
#include <string_view>

namespace vn {
namespace {

constexpr std::array<std::string_view, 8> kStatusNames = {
    "Queued", "Starting", "Downloading", "Paused", "Completed", "Failed", "Verifying", "Cancelled",
};

}  // namespace

std::int64_t SegmentLength(const DownloadSegment& segment) {
  return segment.end < segment.start ? 0 : segment.end - segment.start + 1;
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
