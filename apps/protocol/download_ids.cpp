#include "apps/protocol/download_ids.h"

namespace vn {

bool IsTorrentId(const std::string& id) { return id.starts_with(kTorrentIdPrefix); }

}  // namespace vn
