#include "apps/service/engine/partial_files.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "apps/service/engine/download_probe.h"

namespace vn {

std::filesystem::path FinalFilePath(const DownloadTask& task) {
  return std::filesystem::path(task.outputPath) / task.fileName;
}

std::filesystem::path SegmentsFolder(const DownloadTask& task) {
  const std::filesystem::path finalFile = FinalFilePath(task);
  return finalFile.parent_path() / (finalFile.filename().string() + ".segments");
}

std::filesystem::path PartFilePath(const std::filesystem::path& segmentsFolder, std::size_t index) {
  return segmentsFolder / (std::to_string(index) + ".part");
}

bool ReconcilePartFiles(DownloadTask& task) {
  const std::filesystem::path folder = SegmentsFolder(task);
  for (std::size_t index = 0; index < task.segments.size(); ++index) {
    DownloadSegment& segment = task.segments[index];
    const std::int64_t length = SegmentLength(segment);
    const std::filesystem::path part = PartFilePath(folder, index);

    std::error_code error;
    const auto status = std::filesystem::status(part, error);
    if (status.type() == std::filesystem::file_type::not_found) {
      segment.downloadedBytes = 0;
      continue;
    }
    if (error) throw std::filesystem::filesystem_error("exists", part, error);

    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(part));
    if (size != segment.downloadedBytes) segment.downloadedBytes = std::min(size, length);
    if (segment.downloadedBytes > length) return false;
  }
  return true;
}

namespace {

// Whether the non-empty ranges, in offset order, cover 0..totalBytes-1 with
// neither gap nor overlap. Splits keep this true; a plan made for another size
// (or for an unknown one) does not.
bool SegmentsCoverResource(const std::vector<DownloadSegment>& segments, std::int64_t totalBytes) {
  std::vector<DownloadSegment> ordered;
  for (const DownloadSegment& segment : segments) {
    if (SegmentLength(segment) > 0) ordered.push_back(segment);
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const DownloadSegment& a, const DownloadSegment& b) { return a.start < b.start; });
  std::int64_t next = 0;
  for (const DownloadSegment& segment : ordered) {
    if (segment.start != next) return false;
    next = segment.end + 1;
  }
  return next == totalBytes;
}

}  // namespace

bool KeepEarlierProgress(const DownloadTask& task, std::int64_t queuedTotalBytes,
                         const ProbeResult& probe) {
  if (task.segments.empty()) return false;
  if (!probe.rangeSupport && task.segments.size() != 1) return false;
  if (probe.totalBytes > 0 && queuedTotalBytes > 0 && probe.totalBytes != queuedTotalBytes) {
    return false;
  }
  if (probe.totalBytes > 0 && !SegmentsCoverResource(task.segments, probe.totalBytes)) {
    return false;
  }
  // An empty validator on either side never counts as a change: servers drop
  // them now and then without the resource changing.
  const auto changed = [](const std::string& recorded, const std::string& probed) {
    return !recorded.empty() && !probed.empty() && recorded != probed;
  };
  return !changed(task.etag, probe.etag) && !changed(task.lastModified, probe.lastModified);
}

void RemoveDownloadFiles(const DownloadTask& task, bool removeFinalFile) {
  std::error_code ignored;
  std::filesystem::remove_all(SegmentsFolder(task), ignored);
  if (removeFinalFile) std::filesystem::remove(FinalFilePath(task), ignored);
}

}  // namespace vn
