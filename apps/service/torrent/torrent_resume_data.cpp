// A resume file holds exactly what libtorrent's write_resume_data_buf makes of a
// save_resume_data_alert's params: a bencoded dictionary. Reading goes through
// read_resume_data, which bounds its decoding; the file size is bounded first.
#include "apps/service/torrent/torrent_resume_data.h"

#include <fstream>
#include <iterator>
#include <libtorrent/error_code.hpp>
#include <libtorrent/read_resume_data.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/write_resume_data.hpp>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/file_replace.h"

namespace vn {

namespace lt = libtorrent;

namespace {

constexpr const char* kResumeSuffix = ".resume";
// Far above the resume data of any real torrent (piece bitfields, file list).
constexpr std::uintmax_t kMaxResumeFileBytes = std::uintmax_t{64} << 20;

std::string Hex(const lt::sha1_hash& hash) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char byte : hash) {
    const auto value = static_cast<unsigned char>(byte);
    text.push_back(kDigits[value >> 4]);
    text.push_back(kDigits[value & 0x0f]);
  }
  return text;
}

}  // namespace

lt::info_hash_t InfoHashesOf(const lt::add_torrent_params& params) {
  if (params.ti) return params.ti->info_hashes();
  return params.info_hashes;
}

std::filesystem::path ResumeFilePath(const std::filesystem::path& folder,
                                     const lt::info_hash_t& hashes) {
  return folder / (Hex(hashes.get_best()) + kResumeSuffix);
}

bool WriteResumeFile(const std::filesystem::path& folder, const lt::add_torrent_params& resumeData) {
  const lt::info_hash_t hashes = InfoHashesOf(resumeData);
  if (!hashes.has_v1() && !hashes.has_v2()) return false;
  std::vector<char> bytes;
  try {
    bytes = lt::write_resume_data_buf(resumeData);
  } catch (const std::exception&) {
    return false;
  }
  return platform::ReplaceFileContents(ResumeFilePath(folder, hashes),
                                      std::string_view(bytes.data(), bytes.size()));
}

std::optional<lt::add_torrent_params> ReadResumeFile(const std::filesystem::path& folder,
                                                     const lt::info_hash_t& hashes) {
  const std::filesystem::path file = ResumeFilePath(folder, hashes);
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kMaxResumeFileBytes) return std::nullopt;
  std::ifstream input(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(input)),
                                std::istreambuf_iterator<char>());
  if (!input.eof() && !input) return std::nullopt;
  lt::error_code decodeError;
  lt::add_torrent_params resumed = lt::read_resume_data(bytes, decodeError);
  if (decodeError || InfoHashesOf(resumed).get_best() != hashes.get_best()) return std::nullopt;
  return resumed;
}

void RemoveResumeFile(const std::filesystem::path& folder, const lt::info_hash_t& hashes) {
  std::error_code ignored;
  std::filesystem::remove(ResumeFilePath(folder, hashes), ignored);
}

lt::add_torrent_params WithResumeData(lt::add_torrent_params fromSource,
                                      lt::add_torrent_params resumed) {
  if (!resumed.ti) resumed.ti = std::move(fromSource.ti);
  resumed.peers.insert(resumed.peers.end(), fromSource.peers.begin(), fromSource.peers.end());
  if (resumed.trackers.empty()) {
    resumed.trackers = std::move(fromSource.trackers);
    resumed.tracker_tiers = std::move(fromSource.tracker_tiers);
  }
  resumed.flags = lt::torrent_flags::default_flags;
  return resumed;
}

}  // namespace vn
