#!/usr/bin/env bash
# The Windows leg: cross-builds (scripts/build-windows.sh) and runs the Windows
# programs and tests under Wine. Everything Wine runs belongs to a wineserver
# started inside a private network namespace with only loopback up, so no
# Windows program can reach another host; one fresh WINEPREFIX per run.
# Needs build/release/tests/http_server/serve-file from the Linux build.
# Usage: scripts/test-windows.sh [--without-torrent]
#   --without-torrent  the build without libtorrent (scripts/build-windows.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" != "--inside" ]; then
  "$root/scripts/install-deps.sh" windows
  "$root/scripts/build-windows.sh" "$@"
  "$root/packaging/windows/build-msi.sh" >/dev/null
  "$root/scripts/build.sh" release serve-file
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$0" --inside "$@"
  fi
  exec unshare --net --map-root-user sh -c 'ip link set lo up && exec "$@"' sh "$0" --inside "$@"
fi
shift

started=$(date +%s)
run_root=$(mktemp -d "${TMPDIR:-/tmp}/varnel-wine-XXXXXX")
export WINEPREFIX="$run_root/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
server_pid=""
finish() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$run_root"
}
trap finish EXIT
# A wineserver left from before would have started outside this namespace.
wineserver -k 2>/dev/null || true
wineboot --init >/dev/null 2>&1
# One wineserver for the whole run (it would otherwise end whenever no Windows
# program runs for a moment, and take with it what lives only in it, such as
# the LOCALAPPDATA value whole_system sets). Only once the prefix exists, and
# in place of wineboot's own.
wineserver -k
wineserver -p
echo "== Wine prefix ready after $(( $(date +%s) - started )) s"

windows="$root/build/windows"
failed=0
check() {  # name, then the command; counts a failure without stopping
  local name=$1; shift
  if "$@"; then echo "PASS $name"; else echo "FAIL $name"; failed=$((failed + 1)); fi
}

# Platform tests: SHA-256, the named pipe, files, and HTTP against a served file.
head -c 300000 /dev/urandom > "$run_root/served.bin"
coproc SERVE { exec "$root/build/release/tests/http_server/serve-file" "$run_root/served.bin"; }
server_pid=$SERVE_PID
read -r -t 30 url <&"${SERVE[0]}"
# mingw's std::filesystem cannot make symbolic links, which that case needs.
check platform_tests env VARNEL_TEST_URL="$url" VARNEL_TEST_FILE="Z:$run_root/served.bin" \
  timeout 300 wine "$windows/platform_tests.exe" --gtest_brief=1 \
  --gtest_filter=-FileReplace.MoveNeverTakesAnExistingName
check engine_download_tests env VARNEL_TEST_URL="$url" VARNEL_TEST_FILE="Z:$run_root/served.bin" \
  timeout 300 wine "$windows/engine_download_tests.exe" --gtest_brief=1

check varnel_unit_tests timeout 300 wine "$windows/varnel_unit_tests.exe" --gtest_brief=1
# Left out: a symbolic link (see above), and a folder read as a file, which
# Windows refuses to open at all (the open failure is checked beside it).
check engine_unit_tests timeout 300 wine "$windows/engine_unit_tests.exe" --gtest_brief=1 \
  --gtest_filter=-PartialFiles.RemovalNeverLeavesTheDownloadsOwnFiles:Checksum.ReadErrorIsNotMistakenForTheEnd

# varnel.exe and the native host's routes against stand-in pipes and a
# stand-in Varnel.UI.exe, and `varnel browser install|status|uninstall` with
# Wine's registry (tests/windows/end_to_end.py).
for name in varnel native_host_routes browser_registry; do
  check "$name" timeout 300 python3 "$root/tests/windows/end_to_end.py" "$windows" "$run_root" "$name"
done

# The native host end to end over its real standard streams: a ping whose
# length prefix holds CR and LF bytes (text-mode streams would change them),
# the handshake file under Wine's own %LOCALAPPDATA%, and a capture that falls
# through to the missing service (a copy alone in a folder: the build's own
# service.exe beside it would start).
native_host_check() {
  mkdir -p "$run_root/host-alone"
  cp "$windows/native-host.exe" "$run_root/host-alone/"
  python3 - "$run_root/host-alone/native-host.exe" "$WINEPREFIX" <<'PY'
import glob, json, struct, subprocess, sys
host, prefix = sys.argv[1], sys.argv[2]
def frame(message, size=None):
    body = json.dumps(message).encode()
    body += b" " * ((size or len(body)) - len(body))
    return struct.pack("<I", len(body)) + body
ping = frame({"type": "ping", "browser": "chrome", "extensionId": "abc"}, 0x0a0d)
capture = frame({"type": "capture", "url": "http://127.0.0.1:9/file.zip"})
out = subprocess.run(["wine", host], input=ping + capture, capture_output=True, timeout=60).stdout
replies = []
while len(out) >= 4:
    (size,) = struct.unpack("<I", out[:4])
    replies.append(json.loads(out[4:4 + size]))
    out = out[4 + size:]
assert not out, "trailing bytes: %r" % out[:40]
assert len(replies) == 2, replies
assert replies[0]["ok"] is True and replies[0]["browser"] == "chrome", replies[0]
assert replies[1]["ok"] is False, replies[1]
files = glob.glob(prefix + "/drive_c/users/*/AppData/Local/VarnelV2/browser-handshakes.json")
assert files and "chrome" in open(files[0]).read(), files
PY
}
check native_host native_host_check

# The whole system: service.exe with its store and torrent engine, varnel.exe
# and native-host.exe, against serve-file and a libtorrent seeder on loopback
# (tests/windows/whole_system.py, which notes Wine's differences where it
# meets them); then the installer, installed, used and uninstalled. Last: it
# points Wine's LOCALAPPDATA at a folder of its own.
check whole_system timeout 900 /usr/bin/python3 "$root/tests/windows/whole_system.py" \
  "$windows" "$run_root" "$root/build/release/tests/http_server/serve-file" "$@" \
  --msi "$(ls -t "$windows"/varnel-*-x64.msi | head -n 1)"

echo "== Windows leg took $(( $(date +%s) - started )) s"
if [ "$failed" -ne 0 ]; then echo "$failed Windows check(s) failed"; exit 1; fi
