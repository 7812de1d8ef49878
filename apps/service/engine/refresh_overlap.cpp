#include "apps/service/engine/refresh_overlap.h"

#include <algorithm>
#include <fstream>
#include <string>

#include "apps/service/engine/partial_files.h"
#include "apps/service/engine/probed_resource.h"

namespace vn {
namespace {

// The bytes of part file index from offset on, count of them; empty when they
// cannot all be read.
std::string ReadHeldBytes(const std::filesystem::path& part, std::int64_t offset,
                          std::int64_t count) {
  std::ifstream file(part, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(count), '\0');
  if (!file.seekg(offset) || !file.read(bytes.data(), count)) return {};
  return bytes;
}

}  // namespace

bool OverlapMatches(platform::HttpSession& session, const platform::RequestTarget& target,
                    const DownloadTask& task, const std::filesystem::path& segmentsFolder,
                    const std::atomic<bool>& stop) {
  std::size_t index = 0;
  for (std::size_t i = 0; i < task.segments.size(); ++i) {
    if (task.segments[i].downloadedBytes > task.segments[index].downloadedBytes) index = i;
  }
  if (task.segments.empty() || task.segments[index].downloadedBytes <= 0) return true;

  const DownloadSegment& segment = task.segments[index];
  const std::int64_t count = std::min(kOverlapCheckBytes, segment.downloadedBytes);
  const std::int64_t offsetInPart = segment.downloadedBytes - count;
  const std::string held = ReadHeldBytes(PartFilePath(segmentsFolder, index), offsetInPart, count);
  if (held.empty()) return false;

  const std::int64_t first = segment.start + offsetInPart;
  std::string fetched;
  bool sameResource = false;
  platform::HttpCallbacks callbacks;
  callbacks.onHead = [&](const platform::HttpResponseHead& head) {
    sameResource = head.status == 206 && IsProbedResource(head, task, first);
    return sameResource;
  };
  callbacks.onChunk = [&](const char* data, std::size_t size) {
    fetched.append(data, std::min<std::size_t>(size, held.size() - fetched.size()));
    return fetched.size() < held.size();
  };
  callbacks.shouldStop = [&] { return stop.load(); };
  platform::HttpConnection connection(session);
  connection.Get(target, platform::ByteRange{first, first + count - 1}, callbacks);
  return sameResource && !stop.load() && fetched == held;
}

}  // namespace vn
