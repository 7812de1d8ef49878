#pragma once

// Per-user folders shared by the service and the native host, so both always
// agree on where their files live.

#include <filesystem>

namespace vn::platform {

// The per-user folder of both programs under the data-root base.
inline constexpr const char* kDataFolderName = "VarnelV2";

// $LOCALAPPDATA/VarnelV2 when LOCALAPPDATA is set, non-empty and shorter than
// 260 characters; else (Linux only) $XDG_DATA_HOME/VarnelV2 (absolute only),
// else $HOME/.local/share/VarnelV2; else VarnelV2 beside the program. Not created.
std::filesystem::path ResolveDataRoot();

// The native host's handshake folder: the data root rule, but falling back to
// VarnelV2 in the current directory instead of beside the program.
std::filesystem::path ResolveHandshakeFolder();

// $LOCALAPPDATA when it is set, non-empty and shorter than 260 characters.
std::filesystem::path LocalAppDataFolder();

// Nearest folder, from the program's folder upwards, holding entries named
// "CMakeLists.txt" and "apps"; empty when there is none.
std::filesystem::path FindProjectRoot();

// Default output folder: $XDG_DOWNLOAD_DIR when set and absolute, else
// $HOME/Downloads, else "Downloads" in the current directory. On Windows always
// "C:\Users\Public\Downloads".
std::filesystem::path DefaultDownloadFolder();

}  // namespace vn::platform
