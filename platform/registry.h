#pragma once

// The default value of a key under HKEY_CURRENT_USER: how Windows browsers
// find a native-messaging host. Keys are given without the "HKCU\" prefix,
// e.g. "Software\Mozilla\NativeMessagingHosts\name". Only Windows has a
// registry: elsewhere reading finds nothing and changing throws. Any thread.

#include <optional>
#include <string>

namespace vn::platform {

// The key's default value as text; nullopt when the key or its value is
// missing or the value is not text.
std::optional<std::string> ReadUserRegistryDefault(const std::string& key);

// Creates the key when missing and sets its default value. Throws
// std::runtime_error when it cannot.
void WriteUserRegistryDefault(const std::string& key, const std::string& value);

// Removes the key's default value, then the key itself when nothing else is
// left in it. Throws std::runtime_error when the value cannot be removed.
void RemoveUserRegistryDefault(const std::string& key);

}  // namespace vn::platform
