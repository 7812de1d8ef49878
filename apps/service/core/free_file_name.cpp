#include "apps/service/core/free_file_name.h"

#include <filesystem>
#include <system_error>

#include "apps/service/core/enqueue_arguments.h"
#include "apps/service/engine/partial_files.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

bool PresentOnDisk(const fs::path& path) {
  std::error_code error;
  const auto type = fs::symlink_status(path, error).type();
  // A path the system will not answer for is not known to be free.
  return type != fs::file_type::not_found;
}

bool IsFree(const DownloadTask& task, const ListedTargets& listed) {
  const fs::path finalFile = FinalFilePath(task);
  const fs::path segments = SegmentsFolder(task);
  return !listed.Contains(finalFile) && !listed.Contains(segments) && !PresentOnDisk(finalFile) &&
         !PresentOnDisk(segments);
}

}  // namespace

std::string ChooseFreeFileName(const DownloadTask& task, const ListedTargets& listed) {
  DownloadTask candidate = task;
  for (unsigned number = 1; !IsFree(candidate, listed); ++number) {
    candidate.fileName = FitFileName(task.fileName, " (" + std::to_string(number) + ")");
  }
  return candidate.fileName;
}

}  // namespace vn
