#pragma once

// The one owner of a POSIX file descriptor in platform/'s Unix backends.

#include <utility>

namespace vn::platform {

// Owns one descriptor (or none: -1) and closes it when destroyed. Move-only;
// used by one thread at a time.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int value) : fd(value) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd = std::exchange(other.fd, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd; }
  bool Valid() const { return fd >= 0; }
  // Closes the descriptor, ignoring the result.
  void Reset();
  // Closes the descriptor; false when close reported an error (a delayed write
  // failure). True when there was none.
  bool Close();

 private:
  int fd = -1;
};

}  // namespace vn::platform
