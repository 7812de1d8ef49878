#pragma once

// The paths the listed downloads own on disk, kept as the list changes so that
// choosing a free name for a new download does not walk the whole list.

#include <filesystem>
#include <set>
#include <string>

#include "apps/service/task/download_task.h"

namespace vn {

// Every listed download's final file and segment folder, each in one spelling
// ("a//b" and "a/b" are one target). A download without HasSafeFilePaths owns
// nothing. Two listed downloads may own the same path (files written by older
// versions); the path stays owned until both are removed. Not synchronized:
// the owner guards it with the lock that guards its list.
class ListedTargets {
 public:
  // Adds the paths of task, which has just been listed.
  void Add(const DownloadTask& task);

  // Takes back the paths Add gave for a task with the same output folder and
  // file name; paths never added are no error.
  void Remove(const DownloadTask& task);

  // Whether a listed download owns path.
  bool Contains(const std::filesystem::path& path) const;

 private:
  std::multiset<std::string, std::less<>> targets;
};

}  // namespace vn
