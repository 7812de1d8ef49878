// Any bytes as index.json. Property: every record read has a source and a save
// path, and writing the records and reading them back gives the same records,
// undamaged.
#include <sstream>

#include "apps/service/torrent/torrent_registry.h"
#include "fuzz/fuzz_environment.h"

namespace {

bool SameRecords(const std::vector<vn::TorrentRecord>& a, const std::vector<vn::TorrentRecord>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || a[i].savePath != b[i].savePath || a[i].source != b[i].source ||
        a[i].isFile != b[i].isFile || a[i].paused != b[i].paused) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream input(vn::fuzz::AsText(data, size));
  const auto content = vn::ParseTorrentRegistryContent(input);
  for (const auto& record : content.records) {
    if (record.source.empty() || record.savePath.empty()) vn::fuzz::Fail("record without source");
  }
  std::istringstream written(vn::FormatTorrentRegistry(content.records));
  const auto again = vn::ParseTorrentRegistryContent(written);
  if (again.damaged || !SameRecords(again.records, content.records)) {
    vn::fuzz::Fail("records do not survive a write and a read");
  }
  return 0;
}
