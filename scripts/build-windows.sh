#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with mingw-w64 into build/windows:
# service.exe with the store and the torrent engine, against SQLite and
# libtorrent built for the target by scripts/windows-deps.sh (cached; the first
# run builds them, which takes a while).
# Usage: scripts/build-windows.sh [--without-torrent] [TARGET...]
#   --without-torrent  no libtorrent: the service's torrent engine never runs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build/windows"
torrent=ON
deps_flags=()
if [ "${1:-}" = "--without-torrent" ]; then
  torrent=OFF
  deps_flags=(--sqlite-only)
  shift
fi
targets=()
if [ $# -gt 0 ]; then targets=(--target "$@"); fi
deps=$("$root/scripts/windows-deps.sh" "${deps_flags[@]}" | tail -n 1)
flags=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release
       -DVARNEL_WINDOWS_DEPS:PATH="$deps" -DVARNEL_WITH_TORRENT="$torrent")
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if command -v ccache >/dev/null 2>&1; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  # Precompiled headers (cmake/precompiled_headers.cmake) are cached only when
  # ccache may ignore their definitions and timestamps.
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi
if [ -f "$dir/CMakeCache.txt" ]; then
  generator=()  # the folder keeps the generator it was made with
  # Other libraries (a new key, or with or without libtorrent): found afresh.
  if [ "$(sed -n 's/^VARNEL_WINDOWS_DEPS:[A-Z]*=//p' "$dir/CMakeCache.txt")" != "$deps" ]; then
    flags+=(-U 'SQLite3_*' -U 'LibtorrentRasterbar_*')
  fi
fi
cmake -S "$root" -B "$dir" "${generator[@]}" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
