#pragma once

// The name a new download's files go under, chosen so that they belong to it
// alone.

#include <string>

#include "apps/service/core/listed_targets.h"
#include "apps/service/task/download_task.h"

namespace vn {

// task.fileName when neither <outputPath>/<fileName> nor its segment folder
// exists on disk (a dangling link counts) and no listed download owns either
// of them as its final file or segment folder; otherwise the first free
// of "<stem> (1)<ext>", "<stem> (2)<ext>", ..., where ext is what follows the
// last dot of the name's last part ("a.tar (1).gz"; a leading dot alone starts
// no extension). task must have HasSafeFilePaths. Caller holds the lock that
// guards listed, so no other enqueue can choose the same name meanwhile.
std::string ChooseFreeFileName(const DownloadTask& task, const ListedTargets& listed);

}  // namespace vn
