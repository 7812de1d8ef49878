#include "apps/service/torrent/torrent_engine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/magnet_uri.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_info.hpp>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "apps/service/torrent/session_settings.h"
#include "apps/service/torrent/torrent_entry.h"
#include "apps/service/torrent/torrent_registry.h"
#include "apps/service/torrent/torrent_snapshot.h"

namespace vn {

namespace lt = libtorrent;

namespace {

constexpr const char* kTorrentIdPrefix = "tor_";
constexpr const char* kNotRunning = "Torrent engine is not running";
constexpr const char* kAddFailed = "Could not add torrent: ";

// Flags for every torrent the engine adds. Adding a torrent that is already in
// the session must fail: otherwise two ids would share one handle, and removing
// either would leave the other pointing at nothing.
lt::add_torrent_params Prepare(lt::add_torrent_params params, const std::string& savePath,
                               bool paused) {
  params.save_path = savePath;
  params.flags |= lt::torrent_flags::duplicate_is_error;
  if (paused) {
    // Not auto-managed: libtorrent's queue would otherwise resume it.
    params.flags &= ~lt::torrent_flags::auto_managed;
    params.flags |= lt::torrent_flags::paused;
  }
  return params;
}

}  // namespace

bool IsTorrentId(const std::string& id) { return id.rfind(kTorrentIdPrefix, 0) == 0; }

struct TorrentEngine::Impl {
  explicit Impl(Options options) : options(std::move(options)) {}

  std::mutex mutex;
  std::unique_ptr<lt::session> session;                    // guarded by mutex
  std::unordered_map<std::string, TorrentEntry> registry;  // guarded by mutex
  std::filesystem::path folder;                            // guarded by mutex
  std::atomic<std::uint64_t> idCounter{0};
  std::atomic<bool> running{false};
  const Options options;

  std::string NewTorrentId();
  // Takes mutex. Pausing also takes the torrent off libtorrent's queue, which
  // would otherwise start an auto-managed torrent again; resuming puts it back.
  bool SetPaused(const std::string& id, bool pause);
  // The rest run with mutex held.
  // False, with error set, when there is no session to add to; drains alerts otherwise.
  bool ReadyToAdd(std::string& error);
  void LoadRegistry(const std::filesystem::path& from);
  void LoadRecord(const TorrentRecord& record);
  void SaveRegistry();
  // Nothing reads alerts; dropping them at every operation keeps the queue short.
  void DiscardAlerts();
  std::string Add(lt::add_torrent_params params, const std::string& source,
                  const std::string& savePath, bool isFile, std::string& error);
};

std::string TorrentEngine::Impl::NewTorrentId() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  const std::uint64_t counter = idCounter.fetch_add(1);
  return kTorrentIdPrefix + std::to_string(milliseconds) + "_" + std::to_string(counter);
}

void TorrentEngine::Impl::LoadRegistry(const std::filesystem::path& from) {
  for (const TorrentRecord& record : ReadTorrentRegistry(from)) {
    // One bad element must never keep the others, or the service, from starting.
    try {
      LoadRecord(record);
    } catch (const std::exception&) {
    }
  }
}

void TorrentEngine::Impl::LoadRecord(const TorrentRecord& record) {
  lt::add_torrent_params params;
  lt::error_code error;
  if (record.isFile) {
    auto info = std::make_shared<lt::torrent_info>(record.source, error);
    if (error) return;
    params.ti = std::move(info);
  } else {
    params = lt::parse_magnet_uri(record.source, error);
    if (error) return;
  }
  lt::torrent_handle handle =
      session->add_torrent(Prepare(std::move(params), record.savePath, record.paused), error);
  if (error) return;
  // Made for every loaded element, so the counter advances alike whether or not
  // the file gave an id. An empty id could never be addressed by a client.
  std::string id = NewTorrentId();
  if (!record.id.empty()) id = record.id;
  // A later element with the same id replaces the earlier one; its torrent must
  // leave the session too, or it would run on with no id to reach it by.
  const auto earlier = registry.find(id);
  if (earlier != registry.end() && earlier->second.handle && earlier->second.handle->is_valid()) {
    session->remove_torrent(*earlier->second.handle);
  }
  registry[id] = TorrentEntry{id,
                              record.savePath,
                              record.source,
                              record.isFile,
                              record.paused,
                              std::make_shared<lt::torrent_handle>(std::move(handle))};
}

void TorrentEngine::Impl::SaveRegistry() {
  if (folder.empty()) return;
  std::vector<TorrentRecord> records;
  records.reserve(registry.size());
  for (const auto& [id, entry] : registry) {
    records.push_back(TorrentRecord{id, entry.savePath, entry.source, entry.isFile, entry.paused});
  }
  WriteTorrentRegistry(folder, records);
}

void TorrentEngine::Impl::DiscardAlerts() {
  if (!session) return;
  std::vector<lt::alert*> alerts;
  session->pop_alerts(&alerts);
}

std::string TorrentEngine::Impl::Add(lt::add_torrent_params params, const std::string& source,
                                     const std::string& savePath, bool isFile, std::string& error) {
  lt::error_code addError;
  lt::torrent_handle handle =
      session->add_torrent(Prepare(std::move(params), savePath, false), addError);
  if (addError) {
    error = kAddFailed + addError.message();
    return {};
  }
  const std::string id = NewTorrentId();
  registry[id] = TorrentEntry{
      id, savePath, source, isFile, false, std::make_shared<lt::torrent_handle>(std::move(handle))};
  SaveRegistry();
  return id;
}

TorrentEngine::TorrentEngine() : TorrentEngine(Options{}) {}

TorrentEngine::TorrentEngine(Options options) : impl(std::make_unique<Impl>(std::move(options))) {}

TorrentEngine::~TorrentEngine() {
  std::lock_guard lock(impl->mutex);
  if (!impl->running.exchange(false)) return;
  impl->SaveRegistry();
  impl->registry.clear();
  impl->session.reset();
}

void TorrentEngine::Start(const std::filesystem::path& folder) {
  std::lock_guard lock(impl->mutex);
  if (impl->running) return;
  impl->folder = folder;
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  lt::session_params params(MakeSessionSettings(impl->options.listenInterfaces));
  impl->session = std::make_unique<lt::session>(std::move(params));
  impl->running.exchange(true);
  impl->LoadRegistry(impl->folder);
}

std::string TorrentEngine::AddFromMagnet(const std::string& magnet, const std::string& savePath,
                                         std::string& error) {
  std::lock_guard lock(impl->mutex);
  if (!impl->ReadyToAdd(error)) return {};
  lt::error_code parseError;
  lt::add_torrent_params params = lt::parse_magnet_uri(magnet, parseError);
  if (parseError) {
    error = kInvalidMagnet + parseError.message();
    return {};
  }
  return impl->Add(std::move(params), magnet, savePath, false, error);
}

std::string TorrentEngine::AddFromTorrentFile(const std::string& path, const std::string& savePath,
                                              std::string& error) {
  std::lock_guard lock(impl->mutex);
  if (!impl->ReadyToAdd(error)) return {};
  lt::error_code readError;
  auto info = std::make_shared<lt::torrent_info>(path, readError);
  if (readError) {
    error = kUnreadableTorrentFile + readError.message();
    return {};
  }
  lt::add_torrent_params params;
  params.ti = std::move(info);
  return impl->Add(std::move(params), path, savePath, true, error);
}

bool TorrentEngine::Impl::ReadyToAdd(std::string& error) {
  if (!running || !session) {
    error = kNotRunning;
    return false;
  }
  DiscardAlerts();
  return true;
}

bool TorrentEngine::Impl::SetPaused(const std::string& id, bool pause) {
  std::lock_guard lock(mutex);
  DiscardAlerts();
  const auto found = registry.find(id);
  if (found == registry.end()) return false;
  TorrentEntry& entry = found->second;
  if (!entry.handle || !entry.handle->is_valid()) return false;
  if (pause) {
    entry.handle->unset_flags(lt::torrent_flags::auto_managed);
    entry.handle->pause();
  } else {
    entry.handle->set_flags(lt::torrent_flags::auto_managed);
    entry.handle->resume();
  }
  entry.paused = pause;
  return true;
}

bool TorrentEngine::Pause(const std::string& id) { return impl->SetPaused(id, true); }

bool TorrentEngine::Resume(const std::string& id) { return impl->SetPaused(id, false); }

bool TorrentEngine::Remove(const std::string& id, bool deleteFiles) {
  std::lock_guard lock(impl->mutex);
  impl->DiscardAlerts();
  const auto found = impl->registry.find(id);
  if (found == impl->registry.end()) return false;
  const TorrentEntry& entry = found->second;
  if (impl->session && entry.handle && entry.handle->is_valid()) {
    impl->session->remove_torrent(
        *entry.handle, deleteFiles ? lt::session_handle::delete_files : lt::remove_flags_t{});
  }
  impl->registry.erase(found);
  impl->SaveRegistry();
  return true;
}

std::vector<DownloadTask> TorrentEngine::Snapshot() {
  std::lock_guard lock(impl->mutex);
  impl->DiscardAlerts();
  std::vector<DownloadTask> tasks;
  tasks.reserve(impl->registry.size());
  for (const auto& [id, entry] : impl->registry) tasks.push_back(SnapshotOfTorrent(entry));
  return tasks;
}

int TorrentEngine::ListenPort() {
  std::lock_guard lock(impl->mutex);
  if (!impl->running || !impl->session) return 0;
  return impl->session->listen_port();
}

}  // namespace vn
