#include "apps/service/engine/segment_join.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "apps/service/engine/partial_files.h"
#include "apps/service/engine/pipelined_hasher.h"

namespace vn {

std::string JoinPartFiles(const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                          const std::filesystem::path& finalPath, FinishingReporter& reporter) {
  std::ofstream output(finalPath, std::ios::binary | std::ios::trunc);
  if (!output.is_open()) throw std::runtime_error("Failed to create final output file");

  std::vector<std::size_t> order(task.segments.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return task.segments[a].start < task.segments[b].start;
  });

  PipelinedHasher hasher;
  for (const std::size_t index : order) {
    std::ifstream part(PartFilePath(segmentsFolder, index), std::ios::binary);
    if (!part.is_open()) continue;
    // A partial file can hold more than its range (a write that failed after
    // reaching the disk, an older plan's longer file); only the range belongs
    // to the output.
    std::int64_t left = SegmentLength(task.segments[index]);
    while (part && left > 0) {
      const auto want = static_cast<std::streamsize>(
          std::min<std::int64_t>(left, static_cast<std::int64_t>(PipelinedHasher::kChunkBytes)));
      char* buffer = hasher.Buffer();
      part.read(buffer, want);
      const std::streamsize got = part.gcount();
      if (got < 1) break;
      left -= got;
      if (!output.write(buffer, got)) {
        throw std::runtime_error("Failed to write final output file");
      }
      hasher.Submit(static_cast<std::size_t>(got));
      reporter.Add(2 * got);
    }
  }
  output.close();
  if (output.fail()) throw std::runtime_error("Failed to write final output file");
  return hasher.Finish();
}

}  // namespace vn
