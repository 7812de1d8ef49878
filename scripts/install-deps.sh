#!/usr/bin/env bash
# Installs the Debian packages this project needs, and only those that are missing.
# Quick when everything is there: it asks dpkg first and calls apt-get only for the rest.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  nlohmann-json3-dev libsqlite3-dev libcurl4-openssl-dev libssl-dev
  libtorrent-rasterbar-dev libboost-dev libgtest-dev libcli11-dev
  ninja-build ccache iproute2 util-linux ca-certificates
  help2man
  # Fuzzing: clang with libFuzzer.
  clang-14 libclang-rt-14-dev
  # The Windows leg: the cross compiler, GoogleTest's sources and Wine.
  g++-mingw-w64-x86-64-posix googletest wine64 python3
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
