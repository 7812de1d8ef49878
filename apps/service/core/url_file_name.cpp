#include "apps/service/core/url_file_name.h"

#include "apps/service/engine/partial_files.h"

namespace vn {
namespace {

constexpr const char* kDefaultFileName = "download.bin";

}  // namespace

std::string FileNameFromUrl(const std::string& url) {
  const auto slash = url.rfind('/');
  if (slash == std::string::npos) return kDefaultFileName;
  std::string name = url.substr(slash + 1);
  if (!IsSafeFileName(name)) return kDefaultFileName;
  return name;
}

}  // namespace vn
