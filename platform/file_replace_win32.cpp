// Windows whole-file replacement: a flushed temporary file moved over the
// target with MoveFileExW (write-through), and a move that never replaces.
#include <windows.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/file_replace.h"
#include "platform/win32_handle.h"

namespace vn::platform {
namespace {

std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
  std::random_device random;
  return target.parent_path() /
         (L"." + target.filename().wstring() + L"." + std::to_wstring(random()) + L".tmp");
}

bool WriteFlushed(const std::filesystem::path& path, std::string_view content) {
  const Win32Handle file(CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  while (!content.empty()) {
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 20));
    if (!WriteFile(file.Get(), content.data(), piece, &written, nullptr) || written == 0) {
      return false;
    }
    content.remove_prefix(written);
  }
  return FlushFileBuffers(file.Get()) != 0;
}

}  // namespace

bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content) {
  const auto temporary = TemporaryBeside(target);
  if (WriteFlushed(temporary, content) &&
      MoveFileExW(temporary.wstring().c_str(), target.wstring().c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temporary.wstring().c_str());
  return false;
}

bool ReplaceFileWithCopy(const std::filesystem::path& target, const std::filesystem::path& source) {
  std::ifstream in(source, std::ios::binary);
  if (!in) return false;
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  return ReplaceFileContents(target, content);
}

MoveOutcome MoveWithoutReplacing(const std::filesystem::path& from,
                                 const std::filesystem::path& to) {
  // Without MOVEFILE_REPLACE_EXISTING the check and the move are one step.
  if (MoveFileExW(from.wstring().c_str(), to.wstring().c_str(), MOVEFILE_WRITE_THROUGH)) {
    return MoveOutcome::kMoved;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveOutcome::kTargetExists
                                                                      : MoveOutcome::kFailed;
}

}  // namespace vn::platform
