#include "apps/service/core/free_file_name.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "apps/service/core/enqueue_arguments.h"
#include "apps/service/engine/partial_files.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

// A path as one spelling, so that "a//b" and "a/b" are seen as one target.
std::string Key(const fs::path& path) { return path.lexically_normal().string(); }

std::set<std::string> ListedTargets(const std::vector<DownloadTask>& listed) {
  std::set<std::string> targets;
  for (const DownloadTask& other : listed) {
    if (!HasSafeFilePaths(other)) continue;  // it touches nothing on disk
    targets.insert(Key(FinalFilePath(other)));
    targets.insert(Key(SegmentsFolder(other)));
  }
  return targets;
}

bool PresentOnDisk(const fs::path& path) {
  std::error_code error;
  const auto type = fs::symlink_status(path, error).type();
  // A path the system will not answer for is not known to be free.
  return type != fs::file_type::not_found;
}

bool IsFree(const DownloadTask& task, const std::set<std::string>& targets) {
  const fs::path finalFile = FinalFilePath(task);
  const fs::path segments = SegmentsFolder(task);
  return targets.count(Key(finalFile)) == 0 && targets.count(Key(segments)) == 0 &&
         !PresentOnDisk(finalFile) && !PresentOnDisk(segments);
}

}  // namespace

std::string ChooseFreeFileName(const DownloadTask& task, const std::vector<DownloadTask>& listed) {
  const std::set<std::string> targets = ListedTargets(listed);
  DownloadTask candidate = task;
  for (unsigned number = 1; !IsFree(candidate, targets); ++number) {
    candidate.fileName = FitFileName(task.fileName, " (" + std::to_string(number) + ")");
  }
  return candidate.fileName;
}

}  // namespace vn
