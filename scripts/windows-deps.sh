#!/usr/bin/env bash
# Builds SQLite and libtorrent-rasterbar for x86_64-w64-mingw32 from Debian's
# own source packages, once, into a cache outside the clone:
#   ${VARNEL_DEPS_CACHE:-~/.cache/varnel}/windows-deps/<key>/{include,lib}
# The key hashes both source versions, the cross compiler's and Boost's
# package versions and this script's flags, so any change builds afresh.
# A build happens in a temporary folder that is moved into place only when
# complete: a stopped build never leaves half a cache. The source archives
# stay in the cache too, because a security update removes old versions from
# the archive.
# Prints the cache folder on its last line (what VARNEL_WINDOWS_DEPS takes).
# Usage: scripts/windows-deps.sh [--sqlite-only]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${VARNEL_DEPS_CACHE:-$HOME/.cache/varnel}/windows-deps
triple=x86_64-w64-mingw32
with_torrent=1
[ "${1:-}" = "--sqlite-only" ] && with_torrent=0

# Measured to work; WAL with NORMAL sync is what the store asks for anyway.
sqlite_flags="-O2 -DNDEBUG -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_DEFAULT_WAL_SYNCHRONOUS=1"
# Windows 7 and later, the same floor as the project's own code.
winnt=0x0601
torrent_flags="-DBUILD_SHARED_LIBS=OFF -Dstatic_runtime=ON -Dencryption=ON -Ddeprecated-functions=OFF -DCMAKE_CXX_STANDARD=17 -DCMAKE_BUILD_TYPE=Release -Dbuild_tests=OFF -Dbuild_examples=OFF -Dbuild_tools=OFF -Dpython-bindings=OFF"

# A source package's version as the archive holds it: the binary package's
# candidate version without a binary-only rebuild suffix (+bN).
# Another apt run on the machine can leave apt's cache briefly out of sync.
source_version() {
  local attempt version
  for attempt in 1 2 3 4 5; do
    version=$(apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/ {print $2}' | sed 's/+b[0-9]*$//')
    if [ -n "$version" ] && [ "$version" != "(none)" ]; then echo "$version"; return 0; fi
    sleep "$attempt"
  done
  echo "windows-deps: apt knows no version of $1" >&2
  return 1
}
package_version() { dpkg-query -W -f='${Version}' "$1"; }

sqlite_version=$(source_version libsqlite3-0)
torrent_version=$(source_version libtorrent-rasterbar2.0)
key_text="sqlite3 $sqlite_version | libtorrent-rasterbar $torrent_version | torrent $with_torrent
$(package_version g++-mingw-w64-x86-64-posix) $(package_version mingw-w64-x86-64-dev) $(package_version libboost-dev)
$sqlite_flags | $winnt | $torrent_flags"
key=$(printf '%s' "$key_text" | sha256sum | cut -c1-16)
target="$cache/$key"
if [ -f "$target/.complete" ]; then
  echo "$target"
  exit 0
fi
# One build at a time on the machine: a second caller waits, then finds it done.
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [ -f "$target/.complete" ]; then
  echo "$target"
  exit 0
fi
echo "windows-deps: building into $target (sqlite3 $sqlite_version, libtorrent-rasterbar $torrent_version)" >&2

sources="$cache/sources"
mkdir -p "$sources"
work=$(mktemp -d "$cache/.build-XXXXXX")
list=""
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
cleanup() {
  [ -n "$list" ] && "${sudo_cmd[@]}" rm -f "$list"
  rm -rf "$work"
}
trap cleanup EXIT

# The machine's own Debian mirror, read from its apt sources: a deb-src entry
# for it exists only while the sources are fetched.
# The machine's own apt sources, turned into deb-src entries.
source_entries() {
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list
  fi
}

fetch() {  # source package, version: leaves its .dsc and archives in $sources
  local name=$1 version=$2
  local dsc="$sources/${name}_${version#*:}.dsc"
  [ -f "$dsc" ] && return 0
  if [ -z "$list" ]; then
    local entries
    entries=$(source_entries)
    [ -n "$entries" ] || { echo "windows-deps: no Debian sources in the apt configuration" >&2; exit 1; }
    list=/etc/apt/sources.list.d/varnel-windows-deps-src.sources
    [ -f /etc/apt/sources.list.d/debian.sources ] || list=/etc/apt/sources.list.d/varnel-windows-deps-src.list
    echo "$entries" | "${sudo_cmd[@]}" tee "$list" >/dev/null
    # Only the temporary entry is refreshed; the other lists stay as they are.
    "${sudo_cmd[@]}" apt-get update -qq -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- \
      -o APT::Get::List-Cleanup=0 >&2
  fi
  (cd "$sources" && apt-get source -qq --download-only "$name=$version" >&2)
}

fetch sqlite3 "$sqlite_version"
[ "$with_torrent" = 1 ] && fetch libtorrent-rasterbar "$torrent_version"
if [ -n "$list" ]; then
  "${sudo_cmd[@]}" rm -f "$list"
  list=""
fi

out="$work/out"
mkdir -p "$out/include" "$out/lib"

# SQLite: the amalgamation is generated with native tools (tclsh), then
# compiled alone with the cross compiler.
dpkg-source -q -x "$sources/sqlite3_${sqlite_version#*:}.dsc" "$work/sqlite3" >&2
(
  cd "$work/sqlite3"
  mkdir build && cd build
  ../configure --disable-tcl >/dev/null
  make -s sqlite3.c >/dev/null
  # shellcheck disable=SC2086
  $triple-gcc-posix $sqlite_flags -c sqlite3.c -o sqlite3.o
  $triple-ar rcs "$out/lib/libsqlite3.a" sqlite3.o
  cp sqlite3.h sqlite3ext.h "$out/include/"
) >&2
echo "windows-deps: SQLite done" >&2

if [ "$with_torrent" = 1 ]; then
  dpkg-source -q -x "$sources/libtorrent-rasterbar_${torrent_version#*:}.dsc" "$work/libtorrent" >&2
  # libtorrent names Windows Vista as its floor; the project names Windows 7.
  # Both sides must agree, since the value decides which Win32 declarations
  # and Boost.Asio paths are compiled in.
  sed -i "s/_WIN32_WINNT=0x0600/_WIN32_WINNT=$winnt/" "$work/libtorrent/CMakeLists.txt"
  # Boost from Debian's headers, through a folder that holds only them:
  # /usr/include itself would let glibc's headers shadow mingw's.
  mkdir -p "$work/boost-only"
  ln -s /usr/include/boost "$work/boost-only/boost"
  # shellcheck disable=SC2086
  launcher=()
  if command -v ccache >/dev/null 2>&1; then
    # The build folder's name changes every time; ccache sees past it.
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$work" CCACHE_NOHASHDIR=1
  fi
  nice -n 15 cmake -S "$work/libtorrent" -B "$work/libtorrent-build" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$out" \
    -DBoost_NO_BOOST_CMAKE=ON -DBoost_INCLUDE_DIR="$work/boost-only" \
    $torrent_flags >&2
  nice -n 15 cmake --build "$work/libtorrent-build" -j "$(nproc)" >&2
  cmake --install "$work/libtorrent-build" >/dev/null
  # The installed package names the build folder's Boost link; consumers
  # bring their own Boost include folder.
  { grep -rl "$work/boost-only" "$out/lib/cmake" || true; } |
    xargs -r sed -i "s|$work/boost-only;\?||g"
  echo "windows-deps: libtorrent done" >&2
fi

printf '%s\n' "$key_text" > "$out/.key"
touch "$out/.complete"
rm -rf "$target"
mv "$out" "$target"
echo "$target"
