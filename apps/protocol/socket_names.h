#pragma once

// The local sockets the programs meet on, as names inside the runtime folder
// (platform::PipePath turns a name into its path).

namespace vn {

// The service's request socket: one JSON request and one answer per connection.
inline constexpr const char* kServiceSocketName = "VarnelV2";

// The desktop user interface's capture socket; the native host is its client.
inline constexpr const char* kUiCaptureSocketName = "VarnelV2UiCapture";

}  // namespace vn
