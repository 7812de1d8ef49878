#include "apps/varnel/extension_ids.h"

#include <algorithm>
#include <string_view>

namespace vn::cli {
namespace {

constexpr std::size_t kChromiumIdLength = 32;
// Firefox's own limit for an add-on id.
constexpr std::size_t kMaxFirefoxIdLength = 255;

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// {8-4-4-4-12 hexadecimal digits}
bool IsBracedGuid(std::string_view id) {
  constexpr std::string_view kShape = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (id.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    if (kShape[i] == 'x' ? !IsHexDigit(id[i]) : id[i] != kShape[i]) return false;
  }
  return true;
}

// Letters, digits, '_', '+', '-' and single dots between them.
bool IsLocalPart(std::string_view local) {
  if (local.empty() || local.front() == '.' || local.back() == '.' ||
      local.find("..") != std::string_view::npos) {
    return false;
  }
  return std::all_of(local.begin(), local.end(), [](char c) {
    return IsAsciiAlnum(c) || std::string_view("._+-").find(c) != std::string_view::npos;
  });
}

// Dot-separated labels of letters, digits and inner hyphens.
bool IsDomain(std::string_view domain) {
  if (domain.empty()) return false;
  std::size_t start = 0;
  while (true) {
    const auto dot = domain.find('.', start);
    const auto label = domain.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (label.empty() || label.front() == '-' || label.back() == '-' ||
        !std::all_of(label.begin(), label.end(),
                     [](char c) { return IsAsciiAlnum(c) || c == '-'; })) {
      return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

bool IsChromiumExtensionId(const std::string& id) {
  return id.size() == kChromiumIdLength &&
         std::all_of(id.begin(), id.end(), [](char c) { return c >= 'a' && c <= 'p'; });
}

bool IsFirefoxExtensionId(const std::string& id) {
  if (id.empty() || id.size() > kMaxFirefoxIdLength) return false;
  if (id.front() == '{') return IsBracedGuid(id);
  const auto at = id.find('@');
  // Firefox also takes an id with nothing before the "@".
  return at != std::string::npos && id.find('@', at + 1) == std::string::npos &&
         (at == 0 || IsLocalPart(std::string_view(id).substr(0, at))) &&
         IsDomain(std::string_view(id).substr(at + 1));
}

}  // namespace vn::cli
