#!/usr/bin/env bash
# Installs the Debian packages one or more purposes need, and only those that
# are missing. Quick when everything is there: it asks dpkg first and calls
# apt-get only for the rest. Every purpose includes build.
# Usage: scripts/install-deps.sh [build|test|bench|fuzz|windows|browser]...
#   build    the three programs, the man page and the package (the default)
#   test     + the unit, end-to-end and crash-loop tests and the layer picture
#            check (scripts/test.sh)
#   bench    + the downloaders and tools bench/compare.sh times and uses
#   fuzz     + clang with libFuzzer (scripts/build.sh fuzz, bench/fuzz_all)
#   windows  + the cross compiler, GoogleTest's sources and Wine (the Windows leg)
#   browser  + real browsers, for tests that drive them
set -euo pipefail

declare -A purpose_packages=(
  # The C++ compiler alone (Ninja builds, so no make or the rest of
  # build-essential), CMake with Ninja and ccache, the libraries the programs
  # link, help2man for the man page, the CA store for HTTPS. Kept short: a first
  # download waits for every package here.
  [build]="g++ cmake ninja-build ccache pkg-config
           nlohmann-json3-dev libsqlite3-dev libcurl4-openssl-dev libssl-dev
           libtorrent-rasterbar-dev libboost-dev libcli11-dev
           util-linux ca-certificates help2man"
  # GoogleTest; Python runs the crash loop test; Graphviz draws the layer
  # picture that the tests compare with docs/layers.svg; ip sets up the private
  # network namespace the tests run in.
  [test]="libgtest-dev python3 graphviz iproute2"
  # The contestants (aria2c, axel, curl, wget), the private nginx that serves
  # them, GNU time, openssl for the served files' content, sqlite3 for the
  # scale figures, python3-libtorrent for the torrent seeders and the plain
  # libtorrent contestant; GoogleTest because the benchmark builds the whole release
  # tree, whose configuration asks for it.
  # debootstrap makes the fresh root bench/fresh_machine.sh times a first
  # download on; ip sets up the private network namespace.
  [bench]="nginx-light aria2 axel curl wget time python3 python3-libtorrent openssl sqlite3 libgtest-dev
           iproute2 debootstrap git"
  [fuzz]="clang-14 libclang-rt-14-dev"
  # wine holds the wine, wineboot and wineserver commands; wine64 the loader.
  # GoogleTest's sources build the Windows tests; Python drives them, with
  # libtorrent's binding for the seeder. dpkg-dev unpacks, and tcl generates,
  # the sources scripts/windows-deps.sh builds SQLite and libtorrent from;
  # make runs SQLite's generator.
  # wixl (msitools) makes the installer.
  [windows]="g++-mingw-w64-x86-64-posix googletest wine wine64 python3 libgtest-dev make
             python3-libtorrent dpkg-dev tcl wixl msitools"
  [browser]="chromium firefox-esr"
)
order=(build test bench fuzz windows browser)

purposes=("$@")
[ ${#purposes[@]} -eq 0 ] && purposes=(build)
for purpose in "${purposes[@]}"; do
  if [ -z "${purpose_packages[$purpose]+x}" ]; then
    echo "usage: $0 [${order[*]}]..." >&2
    echo "install-deps: unknown purpose: $purpose" >&2
    exit 2
  fi
done

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# build first, then each purpose asked for, in the order above; a package
# counts once, for the first purpose that needs it.
declare -A wanted=([build]=1)
for purpose in "${purposes[@]}"; do wanted[$purpose]=1; done
declare -A counted=()
missing=()
for purpose in "${order[@]}"; do
  [ -n "${wanted[$purpose]+x}" ] || continue
  read -r -a packages <<<"$(echo ${purpose_packages[$purpose]})"
  purpose_missing=()
  for package in "${packages[@]}"; do
    [ -n "${counted[$package]+x}" ] && continue
    counted[$package]=1
    installed "$package" || purpose_missing+=("$package")
  done
  if [ ${#purpose_missing[@]} -eq 0 ]; then
    echo "install-deps: $purpose: all present"
  else
    echo "install-deps: $purpose: ${#purpose_missing[@]} missing, installing: ${purpose_missing[*]}"
    missing+=("${purpose_missing[@]}")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps: sudo is not installed; as root, run:" >&2
    echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
