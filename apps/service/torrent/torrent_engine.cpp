#include "apps/service/torrent/torrent_engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <iostream>
#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/magnet_uri.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_info.hpp>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "apps/protocol/error_texts.h"
#include "apps/service/torrent/session_settings.h"
#include "apps/service/torrent/torrent_entry.h"
#include "apps/service/torrent/torrent_registry.h"
#include "apps/service/torrent/torrent_resume_data.h"
#include "apps/service/torrent/torrent_snapshot.h"
#include "platform/regular_file.h"

namespace vn {

namespace lt = libtorrent;

namespace {

// How often the resume data of torrents that changed is saved while they run,
// and how often the engine looks at libtorrent's alerts between requests.
constexpr auto kResumeSaveInterval = std::chrono::seconds(30);
constexpr auto kAlertCheckInterval = std::chrono::milliseconds(500);
// At stop, how long to wait for the resume data asked for then.
constexpr auto kStopSaveDeadline = std::chrono::seconds(5);
constexpr lt::resume_data_flags_t kSaveFlags =
    lt::torrent_handle::flush_disk_cache | lt::torrent_handle::save_info_dict;

// Far above any real .torrent file (the info dictionary of a torrent with
// hundreds of thousands of files), and small enough to hold in memory.
constexpr std::size_t kMaxTorrentFileBytes = std::size_t{32} << 20;

// The .torrent file's info, or null with error set. Only regular files are
// read: a folder, a device or a pipe named as a .torrent file never is, and
// naming one never blocks the caller.
std::shared_ptr<lt::torrent_info> LoadTorrentFile(const std::string& path, std::string& error) {
  std::string content;
  try {
    content = platform::ReadRegularFile(path, kMaxTorrentFileBytes);
  } catch (const std::exception& readError) {
    error = readError.what();
    return nullptr;
  }
  lt::error_code decodeError;
  auto info = std::make_shared<lt::torrent_info>(
      lt::span<char const>(content.data(), static_cast<std::ptrdiff_t>(content.size())),
      decodeError, lt::from_span);
  if (decodeError) {
    error = decodeError.message();
    return nullptr;
  }
  return info;
}

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

struct TorrentEngine::Impl {
  explicit Impl(Options options) : options(std::move(options)) {}

  std::mutex mutex;
  std::unique_ptr<lt::session> session;                    // guarded by mutex
  std::unordered_map<std::string, TorrentEntry> registry;  // guarded by mutex
  std::filesystem::path folder;                            // guarded by mutex
  std::atomic<std::uint64_t> idCounter{0};
  std::atomic<bool> running{false};
  const Options options;
  // False after a damaged index.json could not be set aside: it is then never
  // replaced, so the torrents it holds are not lost.
  bool registryWritable = true;  // guarded by mutex
  // Torrents whose resume data was asked for and not yet answered by an alert.
  std::vector<lt::torrent_handle> awaitingResume;        // guarded by mutex
  std::chrono::steady_clock::time_point lastResumeSave;  // guarded by mutex
  bool stopping = false;                                 // guarded by mutex
  std::condition_variable wake;                          // with mutex, for stopping
  // Handles alerts and the periodic resume saves between requests. Started by
  // Start, joined by the destructor before the session goes.
  std::thread maintenance;

  void Maintain();
  void Stop();

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
  // Writes the resume data that arrived and asks again for finished torrents;
  // every other alert is dropped, which keeps the queue short.
  void HandleAlerts();
  void RequestResumeData(const lt::torrent_handle& handle, lt::resume_data_flags_t flags);
  bool IsRegistered(const lt::torrent_handle& handle) const;
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
  const TorrentRegistryContent content = ReadTorrentRegistryContent(from);
  if (content.damaged) {
    const auto aside = SetAsideBrokenRegistry(from, std::chrono::system_clock::now());
    registryWritable = !aside.empty();
    std::cerr << "Torrent list " << (from / kTorrentRegistryFileName).string()
              << " could not be read in full; "
              << (aside.empty() ? "it is left as it is and not written again"
                                : "it was kept as " + aside.string())
              << std::endl;
  }
  for (const TorrentRecord& record : content.records) {
    // One bad element must never keep the others, or the service, from starting.
    try {
      LoadRecord(record);
    } catch (const std::exception&) {
    }
  }
  // What could be read is listed again at once, not only at the next change.
  if (content.damaged) SaveRegistry();
}

void TorrentEngine::Impl::LoadRecord(const TorrentRecord& record) {
  lt::add_torrent_params params;
  lt::error_code error;
  if (record.isFile) {
    std::string ignored;
    params.ti = LoadTorrentFile(record.source, ignored);
    if (!params.ti) return;
  } else {
    params = lt::parse_magnet_uri(record.source, error);
    if (error) return;
  }
  lt::torrent_handle handle;
  if (auto resumed = ReadResumeFile(folder, InfoHashesOf(params))) {
    handle = session->add_torrent(
        Prepare(WithResumeData(params, std::move(*resumed)), record.savePath, record.paused),
        error);
  }
  // Resume data that libtorrent refuses counts as none.
  if (!handle.is_valid()) {
    error.clear();
    handle =
        session->add_torrent(Prepare(std::move(params), record.savePath, record.paused), error);
  }
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
  if (folder.empty() || !registryWritable) return;
  std::vector<TorrentRecord> records;
  records.reserve(registry.size());
  for (const auto& [id, entry] : registry) {
    records.push_back(TorrentRecord{id, entry.savePath, entry.source, entry.isFile, entry.paused});
  }
  WriteTorrentRegistry(folder, records);
}

void TorrentEngine::Impl::HandleAlerts() {
  if (!session) return;
  std::vector<lt::alert*> alerts;
  session->pop_alerts(&alerts);
  for (lt::alert* alert : alerts) {
    if (const auto* saved = lt::alert_cast<lt::save_resume_data_alert>(alert)) {
      std::erase(awaitingResume, saved->handle);
      // A torrent removed since the request must not leave a file behind.
      if (IsRegistered(saved->handle)) WriteResumeFile(folder, saved->params);
    } else if (const auto* failed = lt::alert_cast<lt::save_resume_data_failed_alert>(alert)) {
      std::erase(awaitingResume, failed->handle);
    } else if (const auto* finished = lt::alert_cast<lt::torrent_finished_alert>(alert)) {
      RequestResumeData(finished->handle, kSaveFlags);
    }
  }
}

void TorrentEngine::Impl::RequestResumeData(const lt::torrent_handle& handle,
                                            lt::resume_data_flags_t flags) {
  if (!handle.is_valid()) return;
  // Answered by one of the two alerts, unless the torrent is removed first.
  handle.save_resume_data(flags);
  if (std::find(awaitingResume.begin(), awaitingResume.end(), handle) == awaitingResume.end()) {
    awaitingResume.push_back(handle);
  }
}

bool TorrentEngine::Impl::IsRegistered(const lt::torrent_handle& handle) const {
  for (const auto& [id, entry] : registry) {
    if (entry.handle && *entry.handle == handle) return true;
  }
  return false;
}

void TorrentEngine::Impl::Maintain() {
  std::unique_lock lock(mutex);
  while (!stopping) {
    wake.wait_for(lock, kAlertCheckInterval, [this] { return stopping; });
    if (stopping) break;
    try {
      HandleAlerts();
      const auto now = std::chrono::steady_clock::now();
      if (now - lastResumeSave < kResumeSaveInterval) continue;
      lastResumeSave = now;
      for (const auto& [id, entry] : registry) {
        if (entry.handle && entry.handle->is_valid() && entry.handle->need_save_resume_data()) {
          RequestResumeData(*entry.handle, kSaveFlags | lt::torrent_handle::only_if_modified);
        }
      }
    } catch (const std::exception&) {
      // A handle that left the session meanwhile; the next round tries again.
    }
  }
}

void TorrentEngine::Impl::Stop() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  wake.notify_all();
  if (maintenance.joinable()) maintenance.join();

  std::lock_guard lock(mutex);
  if (!running.exchange(false)) return;
  try {
    for (const auto& [id, entry] : registry) {
      if (entry.handle) RequestResumeData(*entry.handle, kSaveFlags);
    }
    const auto deadline = std::chrono::steady_clock::now() + kStopSaveDeadline;
    while (!awaitingResume.empty()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) break;
      session->wait_for_alert(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
      HandleAlerts();
    }
  } catch (const std::exception&) {
    // Resume data is a convenience: the registry below is what must be saved.
  }
  SaveRegistry();
  registry.clear();
  session.reset();
}

std::string TorrentEngine::Impl::Add(lt::add_torrent_params params, const std::string& source,
                                     const std::string& savePath, bool isFile, std::string& error) {
  lt::error_code addError;
  lt::torrent_handle handle =
      session->add_torrent(Prepare(std::move(params), savePath, false), addError);
  if (addError) {
    error = std::string(error_text::kCouldNotAddTorrent) + ": " + addError.message();
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

TorrentEngine::~TorrentEngine() { impl->Stop(); }

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
  impl->lastResumeSave = std::chrono::steady_clock::now();
  impl->maintenance = std::thread([engine = impl.get()] { engine->Maintain(); });
}

std::string TorrentEngine::AddFromMagnet(const std::string& magnet, const std::string& savePath,
                                         std::string& error) {
  std::lock_guard lock(impl->mutex);
  if (!impl->ReadyToAdd(error)) return {};
  lt::error_code parseError;
  lt::add_torrent_params params = lt::parse_magnet_uri(magnet, parseError);
  if (parseError) {
    error = error_text::kInvalidMagnet + parseError.message();
    return {};
  }
  return impl->Add(std::move(params), magnet, savePath, false, error);
}

std::string TorrentEngine::AddFromTorrentFile(const std::string& path, const std::string& savePath,
                                              std::string& error) {
  std::lock_guard lock(impl->mutex);
  if (!impl->ReadyToAdd(error)) return {};
  std::string readError;
  auto info = LoadTorrentFile(path, readError);
  if (!info) {
    error = error_text::kUnreadableTorrentFile + readError;
    return {};
  }
  lt::add_torrent_params params;
  params.ti = std::move(info);
  return impl->Add(std::move(params), path, savePath, true, error);
}

bool TorrentEngine::Impl::ReadyToAdd(std::string& error) {
  if (!running || !session) {
    error = error_text::kTorrentEngineNotRunning;
    return false;
  }
  HandleAlerts();
  return true;
}

bool TorrentEngine::Impl::SetPaused(const std::string& id, bool pause) {
  std::lock_guard lock(mutex);
  HandleAlerts();
  const auto found = registry.find(id);
  if (found == registry.end()) return false;
  TorrentEntry& entry = found->second;
  if (!entry.handle || !entry.handle->is_valid()) return false;
  if (pause) {
    entry.handle->unset_flags(lt::torrent_flags::auto_managed);
    entry.handle->pause();
    // The progress so far survives a restart with the pause.
    RequestResumeData(*entry.handle, kSaveFlags);
  } else {
    entry.handle->set_flags(lt::torrent_flags::auto_managed);
    entry.handle->resume();
  }
  entry.paused = pause;
  // A client's pause or resume survives even a crash.
  SaveRegistry();
  return true;
}

bool TorrentEngine::Pause(const std::string& id) { return impl->SetPaused(id, true); }

bool TorrentEngine::Resume(const std::string& id) { return impl->SetPaused(id, false); }

bool TorrentEngine::Remove(const std::string& id, bool deleteFiles) {
  std::lock_guard lock(impl->mutex);
  impl->HandleAlerts();
  const auto found = impl->registry.find(id);
  if (found == impl->registry.end()) return false;
  const TorrentEntry& entry = found->second;
  if (impl->session && entry.handle && entry.handle->is_valid()) {
    RemoveResumeFile(impl->folder, entry.handle->info_hashes());
    std::erase(impl->awaitingResume, *entry.handle);
    impl->session->remove_torrent(
        *entry.handle, deleteFiles ? lt::session_handle::delete_files : lt::remove_flags_t{});
  }
  impl->registry.erase(found);
  impl->SaveRegistry();
  return true;
}

std::vector<DownloadTask> TorrentEngine::Snapshot() {
  std::lock_guard lock(impl->mutex);
  impl->HandleAlerts();
  std::vector<DownloadTask> tasks;
  tasks.reserve(impl->registry.size());
  for (const auto& [id, entry] : impl->registry) tasks.push_back(SnapshotOfTorrent(entry));
  return tasks;
}

bool TorrentEngine::SetDownloadRateLimit(std::int64_t bytesPerSecond, std::string& error) {
  std::lock_guard lock(impl->mutex);
  if (!impl->running || !impl->session) {
    error = error_text::kTorrentEngineNotRunning;
    return false;
  }
  lt::settings_pack pack;
  pack.set_int(lt::settings_pack::download_rate_limit,
               static_cast<int>(
                   std::clamp<std::int64_t>(bytesPerSecond, 0, std::numeric_limits<int>::max())));
  impl->session->apply_settings(std::move(pack));
  return true;
}

int TorrentEngine::ListenPort() {
  std::lock_guard lock(impl->mutex);
  if (!impl->running || !impl->session) return 0;
  return impl->session->listen_port();
}

}  // namespace vn
