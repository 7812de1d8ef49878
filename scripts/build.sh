#!/usr/bin/env bash
# Configures and builds one build tree, all of it or only the named targets.
# Usage: scripts/build.sh [release|quick|sanitize|tsan|fuzz] [TARGET...]
#   release   optimised with debug information, tests included (build/release)
#   quick     optimised, no debug information, no tests: the fastest first
#             build of the programs (build/quick; scripts/download.sh)
#   sanitize  AddressSanitizer and UndefinedBehaviorSanitizer (build/sanitize)
#   tsan      ThreadSanitizer (build/tsan)
#   fuzz      the fuzz targets, with clang-14 and libFuzzer (build/fuzz)
# VARNEL_BUILD_DIR, when set, names the build tree instead (bench/cold_build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
shift || true
targets=()
if [ $# -gt 0 ]; then targets=(--target "$@"); fi
case "$kind" in
  release) dir="$root/build/release"; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_SANITIZE=OFF) ;;
  quick) dir="$root/build/quick"
    flags=(-DCMAKE_BUILD_TYPE=Release -DVARNEL_SANITIZE=OFF -DVARNEL_TESTS=OFF) ;;
  sanitize) dir="$root/build/sanitize"; flags=(-DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON) ;;
  tsan) dir="$root/build/tsan"; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_SANITIZE=thread) ;;
  fuzz) dir="$root/build/fuzz"
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 -DVARNEL_FUZZ=ON -DVARNEL_TESTS=OFF) ;;
  *) echo "usage: $0 [release|quick|sanitize|tsan|fuzz] [TARGET...]" >&2; exit 2 ;;
esac
dir=${VARNEL_BUILD_DIR:-$dir}
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
# ccache, when present, makes rebuilds of a fresh clone or another checkout of
# the tree cheap; paths below the root are hashed relative to it.
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
