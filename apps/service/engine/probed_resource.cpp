#include "apps/service/engine/probed_resource.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "apps/service/engine/download_probe.h"

namespace vn {
namespace {

// The first byte of a "bytes first-last/total" value (the unit in any case);
// nullopt when the value has another form.
std::optional<std::int64_t> ContentRangeFirst(const std::string& contentRange) {
  constexpr std::string_view kUnit = "bytes ";
  if (contentRange.size() < kUnit.size()) return std::nullopt;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(contentRange[i])) != kUnit[i]) return std::nullopt;
  }
  const char* text = contentRange.c_str() + kUnit.size();
  char* end = nullptr;
  errno = 0;
  const long long first = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE || *end != '-' || first < 0) return std::nullopt;
  return first;
}

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
    return ContentRangeFirst(head.contentRange) == requestedFirst &&
           ParseContentRangeTotal(head.contentRange) == probed.totalBytes;
  }
  return head.contentLength <= 0 || head.contentLength == probed.totalBytes;
}

}  // namespace vn
