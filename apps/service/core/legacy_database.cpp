#include "apps/service/core/legacy_database.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <system_error>
#include <vector>

#include "apps/database/stored_download_count.h"
#include "platform/file_replace.h"
#include "platform/locations.h"

namespace vn {
namespace {

// Older places a database may live, in the order they are preferred on a tie:
// a developer tree's own data folder, a developer build's, and the earlier
// installation's.
std::vector<std::filesystem::path> LegacyCandidates() {
  std::vector<std::filesystem::path> candidates;
  const std::filesystem::path projectRoot = platform::FindProjectRoot();
  if (!projectRoot.empty()) {
    candidates.push_back(projectRoot / "data" / "downloads.db");
    candidates.push_back(projectRoot /
                         "build/windows-msvc-debug/apps/service/Debug/data/downloads.db");
  }
  const std::filesystem::path localAppData = platform::LocalAppDataFolder();
  if (!localAppData.empty()) {
    candidates.push_back(localAppData / "Programs/Corbelle/data/downloads.db");
  }
  return candidates;
}

// The largest candidate holding at least one download; on equal size the
// later written; on a full tie the earlier in the list.
std::optional<std::filesystem::path> ChooseBestCandidate(const std::filesystem::path& target) {
  std::optional<std::filesystem::path> best;
  std::uintmax_t bestSize = 0;
  std::filesystem::file_time_type bestTime = std::filesystem::file_time_type::min();
  for (const std::filesystem::path& candidate : LegacyCandidates()) {
    if (candidate == target) continue;
    std::error_code error;
    if (!std::filesystem::exists(candidate, error) || error) continue;
    if (CountStoredDownloads(candidate) < 1) continue;
    const auto time = std::filesystem::last_write_time(candidate, error);
    if (error) continue;
    const std::uintmax_t size = std::filesystem::file_size(candidate, error);
    if (error) continue;
    if (!best || size > bestSize || (size == bestSize && time > bestTime)) {
      best = candidate;
      bestSize = size;
      bestTime = time;
    }
  }
  return best;
}

// The copy is made beside the target and renamed into place, so a crash never
// leaves a half-copied database at the target. A journal left by the file
// being replaced belongs to that file and would be replayed into the copy.
void CopyIntoPlace(const std::filesystem::path& source, const std::filesystem::path& target) {
  std::error_code ignored;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
  std::filesystem::path journal = target;
  journal += "-journal";
  // Removed only when the copy can be read at all; replacement is then whole or nothing.
  if (!std::filesystem::is_regular_file(source, ignored)) return;
  std::filesystem::remove(journal, ignored);
  platform::ReplaceFileWithCopy(target, source);
}

}  // namespace

void AdoptLegacyDatabase(const std::filesystem::path& target) {
  try {
    std::error_code error;
    if (std::filesystem::exists(target, error) && CountStoredDownloads(target) > 0) return;
    if (const auto best = ChooseBestCandidate(target)) CopyIntoPlace(*best, target);
  } catch (const std::exception&) {
    // Adoption is a convenience; the service goes on with what the target holds.
  }
}

}  // namespace vn
