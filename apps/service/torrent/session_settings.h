#pragma once

#include <libtorrent/settings_pack.hpp>
#include <string>

namespace vn {

// The fixed settings of the engine's session. listenInterfaces empty keeps
// libtorrent's default listen interfaces (production); tests pass a loopback
// interface so parallel sessions never clash or leave the machine.
libtorrent::settings_pack MakeSessionSettings(const std::string& listenInterfaces);

}  // namespace vn
