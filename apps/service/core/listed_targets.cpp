#include "apps/service/core/listed_targets.h"

#include "apps/service/engine/partial_files.h"

namespace vn {
namespace {

std::string Key(const std::filesystem::path& path) { return path.lexically_normal().string(); }

}  // namespace

void ListedTargets::Add(const DownloadTask& task) {
  if (!HasSafeFilePaths(task)) return;  // it touches nothing on disk
  targets.insert(Key(FinalFilePath(task)));
  targets.insert(Key(SegmentsFolder(task)));
}

void ListedTargets::Remove(const DownloadTask& task) {
  if (!HasSafeFilePaths(task)) return;
  for (const auto& path : {FinalFilePath(task), SegmentsFolder(task)}) {
    const auto found = targets.find(Key(path));
    if (found != targets.end()) targets.erase(found);
  }
}

bool ListedTargets::Contains(const std::filesystem::path& path) const {
  return targets.find(Key(path)) != targets.end();
}

}  // namespace vn
