#include "apps/native-host/handshake_registry.h"

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "apps/protocol/json_text.h"
#include "platform/file_lock.h"
#include "platform/file_replace.h"
#include "platform/locations.h"

namespace vn {
namespace {

constexpr const char* kLockSuffix = ".lock";
// Each holder only reads, changes and renames one small file; a holder that
// takes longer is stuck, and the ping is then recorded without the lock.
constexpr std::chrono::milliseconds kLockTimeout{2000};

nlohmann::json ReadRegistry(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return nlohmann::json::object();
  try {
    nlohmann::json registry;
    stream >> registry;
    if (registry.is_object()) return registry;
  } catch (const nlohmann::json::exception&) {
  }
  return nlohmann::json::object();
}

}  // namespace

void RecordBrowserHandshake(const std::string& browser, const std::string& extensionId) {
  if (browser.empty()) return;
  try {
    const auto folder = platform::ResolveHandshakeFolder();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const auto file = folder / kHandshakeFileName;
    auto lockFile = file;
    lockFile += kLockSuffix;
    // Hosts run one per browser connection: without the lock, two pings at once
    // both read the old file and the later rename drops the earlier browser.
    const auto lock = platform::FileLock::Acquire(lockFile, kLockTimeout);

    auto registry = ReadRegistry(file);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    registry[browser] = {
        {"browser", browser}, {"extensionId", extensionId}, {"lastSeenUtcEpoch", seconds}};
    platform::ReplaceFileContents(file, IndentedJson(registry));
  } catch (const std::exception&) {
    // Out of memory or an unusable folder: the ping is still answered.
  }
}

}  // namespace vn
