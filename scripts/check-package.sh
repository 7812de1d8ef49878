#!/usr/bin/env bash
# Builds the Debian package from the release build, checks its dependencies and
# file list with dpkg-deb, unpacks it into a temporary root, checks the user
# unit, and downloads a file with the unpacked binaries alone: varnel starts the
# unpacked service on demand. Everything that runs the service runs inside a
# private network namespace with only loopback up.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
"$root/scripts/build.sh" release >/dev/null

echo "== package"
rm -rf "$build/package"
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/package/varnel_${version}_amd64.deb"
[ -f "$deb" ] || { echo "missing $deb" >&2; exit 1; }

fail() { echo "package check: $*" >&2; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
for package in libcurl4 libsqlite3-0 libtorrent-rasterbar2.0 libssl3; do
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

expected="./usr/bin/varnel
./usr/lib/systemd/user/varnel.service
./usr/libexec/varnel/native-host
./usr/libexec/varnel/service
./usr/share/bash-completion/completions/varnel
./usr/share/doc/varnel/README.md
./usr/share/doc/varnel/docs/benchmarks.md
./usr/share/doc/varnel/docs/contributing.md
./usr/share/doc/varnel/docs/design.md
./usr/share/doc/varnel/docs/layers.svg
./usr/share/doc/varnel/docs/protocol.md
./usr/share/doc/varnel/docs/reliability.md
./usr/share/doc/varnel/docs/windows.md
./usr/share/man/man1/varnel.1.gz"
# Both browser families carry the same extension files (in sorted order).
for family in chromium firefox; do
  for file in background.js capture.js icons/icon-128.png icons/icon-16.png icons/icon-32.png \
      icons/icon-48.png manifest.json options.html options.js popup.css popup.html popup.js settings.js; do
    expected+=$'\n'"./usr/share/varnel/extension/$family/$file"
  done
done
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "unexpected file list:
$files"

unpacked=$(mktemp -d "${TMPDIR:-/tmp}/varnel-package-XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked/root"
unit="$unpacked/root/usr/lib/systemd/user/varnel.service"
grep -qx 'ExecStart=/usr/libexec/varnel/service' "$unit" || fail "unit starts something else"
if command -v systemd-analyze >/dev/null 2>&1; then
  # Checked where it lies unpacked: the same unit with the unpacked program.
  mkdir -p "$unpacked/unit"
  sed "s#=/usr/libexec#=$unpacked/root/usr/libexec#" "$unit" >"$unpacked/unit/varnel.service"
  systemd-analyze verify --man=no "$unpacked/unit/varnel.service" || fail "systemd-analyze verify"
fi
zcat "$unpacked/root/usr/share/man/man1/varnel.1.gz" | grep -q '^\.SH NAME' || fail "man page"
bash -c 'source "$1" && complete -p varnel' sh "$unpacked/root/usr/share/bash-completion/completions/varnel" \
  >/dev/null || fail "bash completion does not register for varnel"
# varnel points the user at the extension folders it was installed with.
HOME="$unpacked" "$unpacked/root/usr/bin/varnel" browser status |
  grep -qF "$unpacked/root/usr/share/varnel/extension/chromium" || fail "browser status misses the extension"

echo "== download with the unpacked binaries"
mkdir -p "$unpacked/home" "$unpacked/run" "$unpacked/downloads" "$unpacked/served"
chmod 700 "$unpacked/run"
head -c 3000000 /dev/urandom >"$unpacked/served/sample.bin"
export HOME="$unpacked/home" XDG_RUNTIME_DIR="$unpacked/run" XDG_DOWNLOAD_DIR="$unpacked/downloads"
unset LOCALAPPDATA XDG_DATA_HOME XDG_STATE_HOME VARNEL_SERVICE_BINARY VARNEL_NATIVE_HOST_BINARY
cat >"$unpacked/download.sh" <<'INNER'
set -euo pipefail
varnel="$1/root/usr/bin/varnel"
coproc server { exec "$2" "$1/served/sample.bin"; }
# bash forgets server_PID as soon as the server has ended.
server_pid=$server_PID
read -r url <&"${server[0]}"
status=0
"$varnel" add "$url" --wait || status=$?
"$varnel" doctor || status=$?
"$varnel" service stop || status=$?
exec {server[1]}>&-
wait "$server_pid" || true
exit "$status"
INNER
if [ "$(id -u)" -eq 0 ]; then unshare_flags=(--net); else unshare_flags=(--net --map-root-user); fi
unshare "${unshare_flags[@]}" sh -c 'ip link set lo up && exec bash "$@"' sh \
  "$unpacked/download.sh" "$unpacked" "$build/tests/http_server/serve-file"
cmp "$unpacked/served/sample.bin" "$unpacked/downloads/sample.bin" || fail "downloaded file differs"
echo "package check passed: $deb"
