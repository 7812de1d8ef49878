// Windows programs started and looked at by a client: CreateProcessW with a
// console of no one's, process handles and a Toolhelp snapshot. There are no
// signals: a running service is asked to stop through its own pipe.
#include <windows.h>
#include <aclapi.h>
#include <tlhelp32.h>

#include "platform/background_process.h"
#include "platform/command_line_win32.h"
#include "platform/text_wide.h"
#include "platform/win32_handle.h"

namespace vn::platform {
namespace {

std::wstring CommandLineOf(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments) {
  std::vector<std::string> all{program.u8string().empty() ? std::string()
                                                          : WideToUtf8(program.wstring())};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return Utf8ToWide(JoinCommandLine(all));
}

Win32Handle Start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                  HANDLE output, DWORD flags) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION started{};
  std::wstring line = CommandLineOf(program, arguments);
  if (!CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr,
                      output != nullptr, flags, nullptr, nullptr, &startup, &started)) {
    return {};
  }
  CloseHandle(started.hThread);
  return Win32Handle(started.hProcess);
}

}  // namespace

std::optional<int> StartInBackground(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments,
                                     const std::filesystem::path& logFile) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const Win32Handle log(CreateFileW(logFile.wstring().c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log.Valid()) return std::nullopt;
  const Win32Handle process = Start(program, arguments, log.Get(),
                                    DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP);
  if (!process.Valid()) return std::nullopt;
  return static_cast<int>(GetProcessId(process.Get()));
}

bool ProcessRunning(int pid) {
  const Win32Handle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  DWORD code = 0;
  return process.Valid() && GetExitCodeProcess(process.Get(), &code) && code == STILL_ACTIVE;
}

// A detached process has no console to send Ctrl+C to.
bool AskProcessToStop(int) { return false; }

std::optional<int> RunProgram(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout) {
  const Win32Handle process = Start(program, arguments, nullptr, CREATE_NO_WINDOW);
  if (!process.Valid()) return std::nullopt;
  const auto waitMs = static_cast<DWORD>(std::min<long long>(timeout.count(), INFINITE - 1));
  if (WaitForSingleObject(process.Get(), waitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), waitMs);
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) return std::nullopt;
  return static_cast<int>(code);
}

std::filesystem::path FindOnPath(const std::string& name) {
  std::wstring found(MAX_PATH, L'\0');
  const DWORD length = SearchPathW(nullptr, Utf8ToWide(name).c_str(), L".exe",
                                   static_cast<DWORD>(found.size()), found.data(), nullptr);
  if (length == 0 || length >= found.size()) return {};
  found.resize(length);
  return std::filesystem::path(found);
}

std::vector<int> ProcessesRunning(const std::filesystem::path& program) {
  std::vector<int> pids;
  const Win32Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == self) continue;
    const Win32Handle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process.Valid()) continue;  // another user's, or gone
    std::wstring image(32768, L'\0');
    DWORD size = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size)) continue;
    image.resize(size);
    if (CompareStringOrdinal(image.c_str(), -1, program.wstring().c_str(), -1, TRUE) ==
        CSTR_EQUAL) {
      pids.push_back(static_cast<int>(entry.th32ProcessID));
    }
  }
  return pids;
}

std::filesystem::path ProgramOfProcess(int pid) {
  const Win32Handle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.Valid()) return {};
  std::wstring image(32768, L'\0');
  DWORD size = static_cast<DWORD>(image.size());
  if (!QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size)) return {};
  image.resize(size);
  return std::filesystem::path(image);
}

// Another process's environment lives in its memory; it is not read.
std::optional<std::string> EnvironmentOf(int, const std::string&) { return std::nullopt; }

bool OwnedByCurrentUser(const std::filesystem::path& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                            &owner, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool mine = false;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    const Win32Handle ownedToken(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
      mine = EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, owner) != 0;
    }
  }
  LocalFree(descriptor);
  return mine;
}

}  // namespace vn::platform
