#include "apps/service/engine/partial_files.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "apps/service/engine/download_probe.h"

namespace vn {

bool HasZeroByte(const std::string& text) { return text.find('\0') != std::string::npos; }

bool IsSafeFileName(const std::string& fileName) {
  // A zero byte ends the name where the system reads it, so the path the
  // system sees is not the one checked here.
  if (fileName.empty() || HasZeroByte(fileName)) return false;
  const std::filesystem::path path(fileName);
  if (path.has_root_path() || !path.has_filename()) return false;
  for (const auto& part : path) {
    if (part == "." || part == "..") return false;
  }
  return true;
}

bool HasSafeFilePaths(const DownloadTask& task) {
  return !task.outputPath.empty() && !HasZeroByte(task.outputPath) && IsSafeFileName(task.fileName);
}

std::filesystem::path FinalFilePath(const DownloadTask& task) {
  if (!HasSafeFilePaths(task)) throw std::invalid_argument(kInvalidFileName);
  return std::filesystem::path(task.outputPath) / task.fileName;
}

std::filesystem::path SegmentsFolder(const DownloadTask& task) {
  const std::filesystem::path finalFile = FinalFilePath(task);
  return finalFile.parent_path() / (finalFile.filename().string() + ".segments");
}

std::filesystem::path CreateSegmentsFolder(const DownloadTask& task) {
  const std::filesystem::path segments = SegmentsFolder(task);
  std::filesystem::path folder(task.outputPath);
  // The output folder is the user's choice and may well be a link.
  std::filesystem::create_directories(folder);
  std::vector<std::filesystem::path> below;
  for (const auto& part : std::filesystem::path(task.fileName).parent_path()) below.push_back(part);
  below.push_back(segments.filename());
  for (const auto& part : below) {
    folder /= part;
    std::error_code error;
    // create_directory neither follows nor replaces a link at the name.
    std::filesystem::create_directory(folder, error);
    if (std::filesystem::symlink_status(folder, error).type() !=
        std::filesystem::file_type::directory) {
      throw std::runtime_error("Failed to create segment folder");
    }
  }
  return segments;
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
  // them now and then without the resource changing. A new URL may well be
  // another server, though: there a validator that went missing is a change.
  const auto changed = [&task](const std::string& recorded, const std::string& probed) {
    if (recorded.empty()) return false;
    return task.urlRefreshed ? recorded != probed : !probed.empty() && recorded != probed;
  };
  return !changed(task.etag, probe.etag) && !changed(task.lastModified, probe.lastModified);
}

namespace {

using std::filesystem::file_type;

file_type TypeOf(const std::filesystem::path& path) {
  std::error_code ignored;
  return std::filesystem::symlink_status(path, ignored).type();
}

// Whether path lies strictly below folder, compared without touching the disk.
bool IsStrictlyInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
  const auto relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
  return !relative.empty() && relative != "." && *relative.begin() != "..";
}

// Whether every sub-folder that fileName names below the output folder is a
// real folder: through a link, the final file would be somewhere else.
bool SubFoldersAreReal(const DownloadTask& task) {
  std::filesystem::path folder(task.outputPath);
  const std::filesystem::path subFolders = std::filesystem::path(task.fileName).parent_path();
  for (const auto& part : subFolders) {
    folder /= part;
    if (TypeOf(folder) != file_type::directory) return false;
  }
  return true;
}

// Removes the folder's entries that are not folders (links as links), then the
// folder itself if that emptied it. Never descends.
void RemoveSegmentsFolder(const std::filesystem::path& folder) {
  std::error_code ignored;
  if (TypeOf(folder) != file_type::directory) {
    if (TypeOf(folder) == file_type::symlink) std::filesystem::remove(folder, ignored);
    return;
  }
  std::filesystem::directory_iterator entries(folder, ignored);
  for (const auto& entry : entries) {
    if (TypeOf(entry.path()) != file_type::directory) std::filesystem::remove(entry, ignored);
  }
  std::filesystem::remove(folder, ignored);  // only when empty
}

}  // namespace

void RemoveDownloadFiles(const DownloadTask& task, bool removeFinalFile) {
  try {
    if (!HasSafeFilePaths(task) || !SubFoldersAreReal(task)) return;
    const std::filesystem::path outputFolder(task.outputPath);
    const std::filesystem::path finalFile = FinalFilePath(task);
    const std::filesystem::path segments = SegmentsFolder(task);
    if (!IsStrictlyInside(finalFile, outputFolder) || !IsStrictlyInside(segments, outputFolder)) {
      return;
    }
    RemoveSegmentsFolder(segments);
    if (removeFinalFile && TypeOf(finalFile) != file_type::directory) {
      std::error_code ignored;
      std::filesystem::remove(finalFile, ignored);
    }
  } catch (const std::exception&) {
    // Out of memory while building a path: clean-up is best effort.
  }
}

}  // namespace vn
