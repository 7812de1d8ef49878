#include "platform/set_aside.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "platform/file_replace.h"

namespace vn::platform {
namespace {

constexpr int kMaxNameAttempts = 1000;

std::string UtcStamp(std::chrono::system_clock::time_point now) {
  using namespace std::chrono;
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(floor<seconds>(now - day));
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02u%02uT%02d%02d%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return stamp;
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() !=
         std::filesystem::file_type::not_found;
}

}  // namespace

std::filesystem::path SetAsideBrokenFile(const std::filesystem::path& file,
                                         std::chrono::system_clock::time_point now,
                                         const std::vector<std::string>& companionSuffixes) {
  const std::string base = file.filename().string() + kBrokenInfix + UtcStamp(now);
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::filesystem::path aside =
        file.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
    const bool companionTaken = std::any_of(
        companionSuffixes.begin(), companionSuffixes.end(),
        [&](const std::string& suffix) { return Exists(aside.string() + suffix); });
    if (companionTaken) continue;
    const MoveOutcome moved = MoveWithoutReplacing(file, aside);
    if (moved == MoveOutcome::kTargetExists) continue;
    if (moved == MoveOutcome::kFailed) return {};
    // The journal goes with its file: left behind, SQLite would apply it to
    // the new database of the same name.
    for (const std::string& suffix : companionSuffixes) {
      const std::filesystem::path companion = file.string() + suffix;
      if (Exists(companion)) MoveWithoutReplacing(companion, aside.string() + suffix);
    }
    return aside;
  }
  return {};
}

std::vector<std::filesystem::path> FindSetAsideFiles(const std::filesystem::path& file) {
  std::vector<std::filesystem::path> found;
  const std::string prefix = file.filename().string() + kBrokenInfix;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(file.parent_path(), error), end;
       !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    if (name.size() > 4 && (name.ends_with("-wal") || name.ends_with("-shm"))) continue;
    found.push_back(entry->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace vn::platform
