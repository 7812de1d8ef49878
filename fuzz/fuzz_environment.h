#pragma once

// What every fuzz target shares: a private temporary root for the process, and
// a way to stop at once when a property fails, so both libFuzzer and the
// corpus replay report the input.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vn::fuzz {

// Creates a fresh folder under TMPDIR (else /dev/shm, else /tmp) and points
// HOME, LOCALAPPDATA, XDG_RUNTIME_DIR, XDG_DATA_HOME, XDG_STATE_HOME,
// XDG_CONFIG_HOME and XDG_DOWNLOAD_DIR into it, so nothing a target does
// reaches the user's files. The folder is removed when the process exits
// normally. Call once, first.
std::filesystem::path MakePrivateRoot();

// Prints what failed and aborts.
[[noreturn]] void Fail(const std::string& what);

inline std::string AsText(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace vn::fuzz
