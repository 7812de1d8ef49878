#include "apps/service/core/url_file_name.h"

#include "apps/protocol/json_text.h"
#include "apps/service/core/server_file_name.h"

namespace vn {

std::string FileNameFromUrl(const std::string& url) {
  const std::string withoutQuery = url.substr(0, url.find_first_of("?#"));
  const auto slash = withoutQuery.rfind('/');
  if (slash == std::string::npos) return kDefaultFileName;
  const std::string raw = withoutQuery.substr(slash + 1);
  std::string decoded = PercentDecode(raw);
  if (!IsValidUtf8(decoded)) decoded = raw;
  std::string name = SafeOutsideFileName(decoded);
  return name.empty() ? kDefaultFileName : name;
}

}  // namespace vn
