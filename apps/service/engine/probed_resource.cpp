#include "apps/service/engine/probed_resource.h"

#include "apps/service/engine/content_range.h"

namespace vn {
namespace {

bool Differs(const std::string& probed, const std::string& answered) {
  return !probed.empty() && !answered.empty() && probed != answered;
}

}  // namespace

std::string IfRangeValidator(const DownloadTask& probed) {
  if (!probed.etag.empty() && probed.etag.compare(0, 2, "W/") != 0) return probed.etag;
  return probed.lastModified;
}

bool IsProbedResource(const platform::HttpResponseHead& head, const DownloadTask& probed,
                      std::int64_t requestedFirst) {
  if (Differs(probed.etag, head.etag) || Differs(probed.lastModified, head.lastModified)) {
    return false;
  }
  if (head.status == 206) {
    const auto range = ParseContentRange(head.contentRange);
    return range && range->first == requestedFirst && range->total == probed.totalBytes;
  }
  return head.contentLength <= 0 || head.contentLength == probed.totalBytes;
}

}  // namespace vn
