#pragma once

// A folder of a user's that other programs write too (a browser's
// native-messaging folder), and the files in it handled by name, never through
// a symbolic link: neither the folder's own name nor a file's may be one, so a
// planted link cannot send a write or a removal somewhere else. On Linux the
// folder stays open (O_NOFOLLOW) and every file operation is relative to it, so
// the folder cannot be swapped for a link meanwhile. On Windows a reparse
// point counts as a link and is checked before each use. One thread at a time.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace vn::platform {

class LinkFreeFolder {
 public:
  // Throws std::runtime_error "is a symbolic link", "is not a folder" or the
  // system's text (e.g. "No such file or directory").
  explicit LinkFreeFolder(const std::filesystem::path& path);
  ~LinkFreeFolder();
  LinkFreeFolder(const LinkFreeFolder&) = delete;
  LinkFreeFolder& operator=(const LinkFreeFolder&) = delete;

  // kOther: a symbolic link, a folder, a FIFO or a device at the name.
  enum class Entry { kAbsent, kFile, kOther };
  struct Content {
    Entry entry = Entry::kAbsent;
    std::string bytes;  // kFile only
  };

  // What is at name; a regular file is read whole. Throws std::runtime_error
  // "file too large" beyond maxBytes, or the system's text.
  Content Read(const std::string& name, std::size_t maxBytes) const;

  // Writes content (mode 0644) to a temporary file in the folder, flushes it
  // and renames it over name; false on failure, with name unchanged.
  bool Replace(const std::string& name, std::string_view content) const;

  // Renames from to to only when nothing is at to; false otherwise.
  bool Rename(const std::string& from, const std::string& to) const;

  // Removes the file or link at name (never a folder); false on failure.
  bool Remove(const std::string& name) const;

 private:
  struct State;
  std::unique_ptr<State> state;
};

}  // namespace vn::platform
