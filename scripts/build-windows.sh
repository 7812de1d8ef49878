#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with mingw-w64 into build/windows.
# Usage: scripts/build-windows.sh [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build/windows"
targets=()
if [ $# -gt 0 ]; then targets=(--target "$@"); fi
flags=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release)
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if command -v ccache >/dev/null 2>&1; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  # Precompiled headers (cmake/precompiled_headers.cmake) are cached only when
  # ccache may ignore their definitions and timestamps.
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" "${generator[@]}" "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
