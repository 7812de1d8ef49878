#include "apps/native-host/newest_downloads.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "apps/protocol/answers.h"
#include "apps/protocol/command_names.h"
#include "apps/protocol/download_ids.h"
#include "apps/protocol/error_texts.h"
#include "apps/protocol/json_text.h"

namespace vn {
namespace {

// Milliseconds since 1970, then the torrent counter; ordered as the ids were made.
using IdAge = std::pair<std::int64_t, std::int64_t>;
constexpr IdAge kOldest{-1, -1};

// The decimal number at the front of text, which is advanced past it.
std::optional<std::int64_t> TakeNumber(std::string_view& text) {
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || number < 0) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return number;
}

IdAge AgeOf(const nlohmann::json& entry) {
  if (!entry.is_object()) return kOldest;
  const auto id = entry.find(member::kId);
  if (id == entry.end() || !id->is_string()) return kOldest;
  std::string_view text = id->get_ref<const std::string&>();
  const bool torrent = text.starts_with(kTorrentIdPrefix);
  if (!torrent && !text.starts_with(kDownloadIdPrefix)) return kOldest;
  text.remove_prefix(std::string_view(torrent ? kTorrentIdPrefix : kDownloadIdPrefix).size());
  const auto milliseconds = TakeNumber(text);
  if (!milliseconds) return kOldest;
  if (!torrent) return text.empty() ? IdAge{*milliseconds, 0} : kOldest;
  if (!text.starts_with('_')) return kOldest;
  text.remove_prefix(1);
  const auto counter = TakeNumber(text);
  return counter && text.empty() ? IdAge{*milliseconds, *counter} : kOldest;
}

nlohmann::json ListAnswer(nlohmann::json downloads, std::size_t total) {
  return {{member::kDownloads, std::move(downloads)}, {member::kOk, true}, {member::kTotal, total}};
}

}  // namespace

std::string NewestDownloads(const std::string& serviceAnswer, std::size_t limit,
                            std::size_t maxBytes) {
  auto answer = nlohmann::json::parse(serviceAnswer, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) {
    return ErrorAnswer(error_text::kUnreadableServiceAnswer);
  }
  const auto ok = answer.find(member::kOk);
  if (ok == answer.end() || *ok != true) return serviceAnswer;
  const auto found = answer.find(member::kDownloads);
  if (found == answer.end() || !found->is_array()) {
    return ErrorAnswer(error_text::kUnreadableServiceAnswer);
  }

  nlohmann::json& downloads = *found;
  const std::size_t total = downloads.size();
  std::vector<IdAge> ages;
  ages.reserve(total);
  for (const auto& entry : downloads) ages.push_back(AgeOf(entry));
  std::vector<std::size_t> order(total);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Stable: downloads of the same age keep the service's order.
  std::stable_sort(order.begin(), order.end(),
                   [&ages](std::size_t a, std::size_t b) { return ages[a] > ages[b]; });

  // Compact JSON writes an entry the same alone as inside the array, so the
  // answer's size is the empty answer's plus each entry and its comma.
  nlohmann::json kept = nlohmann::json::array();
  const std::size_t emptySize = CompactJson(ListAnswer(nlohmann::json::array(), total)).size();
  std::size_t size = emptySize;
  for (std::size_t rank = 0; rank < total && kept.size() < limit; ++rank) {
    nlohmann::json& entry = downloads[order[rank]];
    const std::size_t entrySize = CompactJson(entry).size();
    // One that no answer could carry is passed over; otherwise the list stays
    // the newest ones without a gap.
    if (emptySize + entrySize > maxBytes) continue;
    if (size + entrySize + (kept.empty() ? 0 : 1) > maxBytes) break;
    size += entrySize + (kept.empty() ? 0 : 1);
    kept.push_back(std::move(entry));
  }
  return CompactJson(ListAnswer(std::move(kept), total));
}

}  // namespace vn
