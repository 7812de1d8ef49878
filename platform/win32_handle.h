#pragma once

// Scope-bound owner of a Win32 kernel handle (file, pipe, event, process):
// closed by CloseHandle when the owner goes. Move-only; one thread at a time.
// Windows only.

#include <windows.h>

#include <utility>

namespace vn::platform {

class Win32Handle {
 public:
  Win32Handle() = default;
  explicit Win32Handle(HANDLE value) : handle(value) {}
  ~Win32Handle() { Reset(); }
  Win32Handle(Win32Handle&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
  Win32Handle& operator=(Win32Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle = std::exchange(other.handle, nullptr);
    }
    return *this;
  }
  Win32Handle(const Win32Handle&) = delete;
  Win32Handle& operator=(const Win32Handle&) = delete;

  HANDLE Get() const { return handle; }
  // INVALID_HANDLE_VALUE (a failed CreateFile) and null both mean "none".
  bool Valid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  void Reset() {
    if (Valid()) CloseHandle(handle);
    handle = nullptr;
  }

 private:
  HANDLE handle = nullptr;
};

}  // namespace vn::platform
