#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/registry.h"
#include "platform/text_wide.h"

namespace vn::platform {
namespace {

// Larger default values are not manifest paths and are not read.
constexpr DWORD kMaxValueBytes = 64 << 10;

class OpenKey {
 public:
  explicit OpenKey(HKEY key) : key(key) {}
  ~OpenKey() { RegCloseKey(key); }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY Get() const { return key; }

 private:
  HKEY key;
};

std::runtime_error RegistryError(const std::string& what, const std::string& key, LONG code) {
  return std::runtime_error("cannot " + what + " HKCU\\" + key + " (error " +
                            std::to_string(code) + ")");
}

}  // namespace

std::optional<std::string> ReadUserRegistryDefault(const std::string& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Utf8ToWide(key).c_str(), 0, KEY_QUERY_VALUE, &opened) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const OpenKey owner(opened);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(opened, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxValueBytes) {
    return std::nullopt;
  }
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(opened, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                       &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The stored text may or may not end with its terminating zero.
  std::wstring value(text.data(), std::min<std::size_t>(size / sizeof(wchar_t), text.size()));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return WideToUtf8(value);
}

void WriteUserRegistryDefault(const std::string& key, const std::string& value) {
  HKEY opened = nullptr;
  const LONG created = RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(key).c_str(), 0, nullptr, 0,
                                       KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (created != ERROR_SUCCESS) throw RegistryError("create", key, created);
  const OpenKey owner(opened);
  const auto wide = Utf8ToWide(value);
  const LONG set = RegSetValueExW(opened, nullptr, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(wide.c_str()),
                                  static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  if (set != ERROR_SUCCESS) throw RegistryError("set", key, set);
}

void RemoveUserRegistryDefault(const std::string& key) {
  const auto wideKey = Utf8ToWide(key);
  HKEY opened = nullptr;
  const LONG open = RegOpenKeyExW(HKEY_CURRENT_USER, wideKey.c_str(), 0,
                                  KEY_SET_VALUE | KEY_QUERY_VALUE, &opened);
  if (open == ERROR_FILE_NOT_FOUND) return;
  if (open != ERROR_SUCCESS) throw RegistryError("open", key, open);
  DWORD subkeys = 0;
  DWORD values = 0;
  {
    const OpenKey owner(opened);
    const LONG removed = RegDeleteValueW(opened, nullptr);
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
      throw RegistryError("change", key, removed);
    }
    if (RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return;
    }
  }
  // An emptied key is ours to remove; one holding anything else is kept.
  if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, wideKey.c_str());
}

}  // namespace vn::platform
