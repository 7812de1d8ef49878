# Precompiled headers: the JSON library's header (with the standard headers it
# brings) is parsed once per build instead of once per file. libtorrent's are
# not precompiled: its precompiled header alone took longer to make than the
# torrent engine's five files saved with it. Off, every file includes what it
# names itself again: a check that no file leans on the precompiled ones.
option(VARNEL_PRECOMPILED_HEADERS "Precompile the JSON library's header" ON)

set(VN_JSON_HEADERS <nlohmann/json.hpp> <chrono> <filesystem> <optional> <stdexcept>
                    <string_view>)

# vn_protocol makes the JSON one and every other target that includes the JSON
# library reuses it: one compilation of it per build. On Windows, where the
# platform library's definitions (UNICODE, _WIN32_WINNT, ...) differ between
# targets, each target makes its own.
function(vn_precompile_json target)
  if(NOT VARNEL_PRECOMPILED_HEADERS)
    return()
  endif()
  if(target STREQUAL "vn_protocol" OR WIN32)
    target_precompile_headers(${target} PRIVATE ${VN_JSON_HEADERS})
  else()
    target_precompile_headers(${target} REUSE_FROM vn_protocol)
  endif()
endfunction()
