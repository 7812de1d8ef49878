#include "apps/service/torrent/torrent_snapshot.h"

#include <gtest/gtest.h>

#include <libtorrent/torrent_flags.hpp>

#include "apps/service/torrent/session_settings.h"
#include "apps/service/torrent/torrent_engine.h"

namespace vn {
namespace {

namespace lt = libtorrent;

lt::torrent_status StatusIn(lt::torrent_status::state_t state, bool pausedByLibtorrent = false) {
  lt::torrent_status status;
  status.state = state;
  status.flags = pausedByLibtorrent ? lt::torrent_flags::paused : lt::torrent_flags_t{};
  return status;
}

TEST(TorrentStatus, FollowsLibtorrentState) {
  EXPECT_EQ(StatusOfTorrent(false, StatusIn(lt::torrent_status::checking_files)),
            DownloadStatus::Verifying);
  EXPECT_EQ(StatusOfTorrent(false, StatusIn(lt::torrent_status::checking_resume_data)),
            DownloadStatus::Verifying);
  EXPECT_EQ(StatusOfTorrent(false, StatusIn(lt::torrent_status::downloading_metadata)),
            DownloadStatus::Starting);
  EXPECT_EQ(StatusOfTorrent(false, StatusIn(lt::torrent_status::downloading)),
            DownloadStatus::Downloading);
  EXPECT_EQ(StatusOfTorrent(false, StatusIn(lt::torrent_status::finished)),
            DownloadStatus::Completed);
  EXPECT_EQ(StatusOfTorrent(false, StatusIn(lt::torrent_status::seeding)),
            DownloadStatus::Completed);
  EXPECT_EQ(StatusOfTorrent(false, StatusIn(static_cast<lt::torrent_status::state_t>(0))),
            DownloadStatus::Downloading);
}

TEST(TorrentStatus, ClientPauseWinsOverEveryState) {
  EXPECT_EQ(StatusOfTorrent(true, StatusIn(lt::torrent_status::seeding)), DownloadStatus::Paused);
  EXPECT_EQ(StatusOfTorrent(true, StatusIn(lt::torrent_status::downloading)),
            DownloadStatus::Paused);
  EXPECT_EQ(StatusOfTorrent(true, StatusIn(lt::torrent_status::checking_files)),
            DownloadStatus::Paused);
}

// libtorrent's own pause is its queue, never the user's: Queued, or Completed
// once the files are complete.
TEST(TorrentStatus, LibtorrentPauseIsQueuedUnlessTheFilesAreComplete) {
  struct Case {
    lt::torrent_status::state_t state;
    bool finished;
    DownloadStatus expected;
  };
  for (const Case& c : {Case{lt::torrent_status::seeding, false, DownloadStatus::Completed},
                        Case{lt::torrent_status::finished, false, DownloadStatus::Completed},
                        Case{lt::torrent_status::checking_files, true, DownloadStatus::Completed},
                        Case{lt::torrent_status::checking_files, false, DownloadStatus::Queued},
                        Case{lt::torrent_status::downloading_metadata, false,
                             DownloadStatus::Queued},
                        Case{lt::torrent_status::downloading, false, DownloadStatus::Queued}}) {
    lt::torrent_status status = StatusIn(c.state, true);
    status.is_finished = c.finished;
    EXPECT_EQ(StatusOfTorrent(false, status), c.expected) << static_cast<int>(c.state);
    status.flags = {};
    if (c.expected == DownloadStatus::Completed) {
      EXPECT_EQ(StatusOfTorrent(false, status), DownloadStatus::Completed);
    }
    EXPECT_EQ(StatusOfTorrent(true, status), DownloadStatus::Paused);
  }
}

TEST(TorrentSnapshot, EntryWithoutHandleIsListedAsStartingTorrent) {
  TorrentEntry entry{"tor_1_0", "/save", "magnet:?xt=urn:btih:aa", false, false, nullptr};
  const DownloadTask task = SnapshotOfTorrent(entry);
  EXPECT_EQ(task.id, "tor_1_0");
  EXPECT_EQ(task.url, "magnet:?xt=urn:btih:aa");
  EXPECT_EQ(task.outputPath, "/save");
  EXPECT_EQ(task.fileName, "(torrent)");
  EXPECT_EQ(task.status, DownloadStatus::Starting);
  EXPECT_TRUE(task.isTorrent);
  EXPECT_EQ(task.connectionCount, 0);
  EXPECT_EQ(task.totalBytes, 0);
  EXPECT_TRUE(task.segments.empty());

  entry.handle = std::make_shared<lt::torrent_handle>();  // never attached to a session
  EXPECT_EQ(SnapshotOfTorrent(entry).fileName, "(torrent)");
}

TEST(TorrentSessionSettings, HoldFixedValues) {
  const lt::settings_pack pack = MakeSessionSettings("");
  EXPECT_EQ(pack.get_int(lt::settings_pack::alert_mask), 73);
  EXPECT_EQ(pack.get_str(lt::settings_pack::user_agent), "Corbelle/1.0 libtorrent");
  EXPECT_EQ(pack.get_int(lt::settings_pack::download_rate_limit), 0);
  EXPECT_EQ(pack.get_int(lt::settings_pack::upload_rate_limit), 0);
  EXPECT_EQ(pack.get_int(lt::settings_pack::connections_limit), 800);
  EXPECT_EQ(pack.get_int(lt::settings_pack::active_downloads), 10);
  EXPECT_EQ(pack.get_int(lt::settings_pack::active_limit), 30);
  EXPECT_EQ(pack.get_int(lt::settings_pack::connection_speed), 500);
  EXPECT_EQ(pack.get_int(lt::settings_pack::aio_threads), 8);
  EXPECT_TRUE(pack.get_bool(lt::settings_pack::enable_dht));
  EXPECT_TRUE(pack.get_bool(lt::settings_pack::enable_lsd));
  EXPECT_TRUE(pack.get_bool(lt::settings_pack::enable_upnp));
  EXPECT_TRUE(pack.get_bool(lt::settings_pack::enable_natpmp));
  EXPECT_FALSE(pack.get_bool(lt::settings_pack::enable_outgoing_utp));
  EXPECT_TRUE(pack.get_bool(lt::settings_pack::enable_incoming_utp));
  EXPECT_EQ(pack.get_int(lt::settings_pack::mixed_mode_algorithm), lt::settings_pack::prefer_tcp);
  EXPECT_FALSE(pack.has_val(lt::settings_pack::listen_interfaces));
}

TEST(TorrentSessionSettings, ListenInterfacesOnlyWhenGiven) {
  const lt::settings_pack pack = MakeSessionSettings("127.0.0.1:0");
  EXPECT_EQ(pack.get_str(lt::settings_pack::listen_interfaces), "127.0.0.1:0");
}

TEST(TorrentId, RecognisesOnlyTheExactLowerCasePrefix) {
  EXPECT_FALSE(IsTorrentId("tor"));
  EXPECT_FALSE(IsTorrentId("TOR_x"));
  EXPECT_FALSE(IsTorrentId("dl_123"));
  EXPECT_FALSE(IsTorrentId(""));
  EXPECT_TRUE(IsTorrentId("tor_"));
  EXPECT_TRUE(IsTorrentId("tor_1733470000123_0"));
}

}  // namespace
}  // namespace vn
