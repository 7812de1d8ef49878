#pragma once

#include <filesystem>

namespace vn {

// Copies the best older database (a developer build's, or the older
// installation's) to target when target is missing or holds no downloads.
// Never throws for file-system or database failures.
void AdoptLegacyDatabase(const std::filesystem::path& target);

}  // namespace vn
