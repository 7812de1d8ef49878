// Windows has no O_NOFOLLOW for a folder kept open: the folder and each name
// are checked for a reparse point (a symbolic link or junction) before use.
#include <windows.h>

#include <stdexcept>

#include "platform/file_replace.h"
#include "platform/link_free_folder.h"
#include "platform/regular_file.h"

namespace vn::platform {
namespace {

std::filesystem::path Utf8Name(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

DWORD AttributesOf(const std::filesystem::path& path) {
  return GetFileAttributesW(path.wstring().c_str());
}

}  // namespace

struct LinkFreeFolder::State {
  std::filesystem::path folder;

  void Check() const {
    const DWORD attributes = AttributesOf(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) throw std::runtime_error("cannot be opened");
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      throw std::runtime_error("is a symbolic link");
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw std::runtime_error("is not a folder");
  }
};

LinkFreeFolder::LinkFreeFolder(const std::filesystem::path& path)
    : state(std::make_unique<State>()) {
  state->folder = path;
  state->Check();
}

LinkFreeFolder::~LinkFreeFolder() = default;

LinkFreeFolder::Content LinkFreeFolder::Read(const std::string& name, std::size_t maxBytes) const {
  state->Check();
  Content content;
  const auto path = state->folder / Utf8Name(name);
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return content;
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    content.entry = Entry::kOther;
    return content;
  }
  try {
    content.bytes = ReadRegularFile(path, maxBytes);
    content.entry = Entry::kFile;
  } catch (const std::runtime_error& error) {
    if (std::string(error.what()) != "not a regular file") throw;
    content.entry = Entry::kOther;
  }
  return content;
}

bool LinkFreeFolder::Replace(const std::string& name, std::string_view content) const {
  state->Check();
  return ReplaceFileContents(state->folder / Utf8Name(name), content);
}

bool LinkFreeFolder::Rename(const std::string& from, const std::string& to) const {
  state->Check();
  return MoveWithoutReplacing(state->folder / Utf8Name(from), state->folder / Utf8Name(to)) ==
         MoveOutcome::kMoved;
}

bool LinkFreeFolder::Remove(const std::string& name) const {
  state->Check();
  return DeleteFileW((state->folder / Utf8Name(name)).wstring().c_str()) != 0;
}

}  // namespace vn::platform
