#include "apps/service/torrent/session_settings.h"

namespace vn {
namespace {

// alert categories error (1), storage (8) and status (64). The engine never reads
// alerts; it drains them so the queue stays small.
constexpr int kAlertMask = 73;

}  // namespace

libtorrent::settings_pack MakeSessionSettings(const std::string& listenInterfaces) {
  namespace lt = libtorrent;
  lt::settings_pack pack;
  pack.set_int(lt::settings_pack::alert_mask, kAlertMask);
  pack.set_str(lt::settings_pack::user_agent, "Corbelle/1.0 libtorrent");
  pack.set_int(lt::settings_pack::download_rate_limit, 0);
  pack.set_int(lt::settings_pack::upload_rate_limit, 0);
  pack.set_int(lt::settings_pack::connections_limit, 800);
  pack.set_int(lt::settings_pack::active_downloads, 10);
  pack.set_int(lt::settings_pack::active_limit, 30);
  pack.set_int(lt::settings_pack::connection_speed, 500);
  pack.set_int(lt::settings_pack::aio_threads, 8);
  // uTP's delay-based congestion control yields to any other traffic, which
  // on a fast path (a LAN, fibre, loopback) caps a torrent at a fraction of
  // the link. Connections made here go over TCP; peers that only speak uTP
  // are still accepted, and TCP is preferred where both run at once.
  pack.set_bool(lt::settings_pack::enable_outgoing_utp, false);
  pack.set_bool(lt::settings_pack::enable_incoming_utp, true);
  pack.set_int(lt::settings_pack::mixed_mode_algorithm, lt::settings_pack::prefer_tcp);
  pack.set_bool(lt::settings_pack::enable_dht, true);
  pack.set_bool(lt::settings_pack::enable_lsd, true);
  pack.set_bool(lt::settings_pack::enable_upnp, true);
  pack.set_bool(lt::settings_pack::enable_natpmp, true);
  if (!listenInterfaces.empty()) {
    pack.set_str(lt::settings_pack::listen_interfaces, listenInterfaces);
  }
  return pack;
}

}  // namespace vn
