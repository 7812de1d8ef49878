#include "platform/stop_event_win32.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "platform/win32_handle.h"

namespace vn::platform {

std::wstring ServiceStopEventName() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const Win32Handle ownedToken(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  LPWSTR sid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
    return {};
  }
  std::wstring name = L"Local\\VarnelV2Stop-";
  name += sid;
  LocalFree(sid);
  return name;
}

}  // namespace vn::platform
