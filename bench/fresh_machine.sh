#!/usr/bin/env bash
# Times a newcomer's first download on a fresh Debian 12 root: debootstrap
# (minbase), a clean clone of this tree's HEAD, no ccache content; then
# scripts/install-deps.sh build (what scripts/download.sh installs) and, inside a
# private network namespace with a file served on 127.0.0.1,
# scripts/download.sh URL --wait (the build, the service started, the download
# verified). The apt mirror of this machine's own sources is the only traffic
# that leaves the machine.
# Usage: bench/fresh_machine.sh [SIZE_MB]   (as root; default 20 MB)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size_mb=${1:-20}
if [ "$(id -u)" -ne 0 ]; then
  echo "fresh_machine: needs root (debootstrap, chroot, mount)" >&2
  exit 2
fi
for tool in debootstrap git unshare ip python3; do
  command -v "$tool" >/dev/null || { echo "fresh_machine: $tool missing (scripts/install-deps.sh bench)" >&2; exit 2; }
done

work=$(mktemp -d /var/tmp/varnel-fresh-XXXXXX)
fresh="$work/root"
cleanup() {
  umount "$fresh/proc" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The machine's own first Debian source, deb822 or one-line form.
mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
           awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }')
if [ -z "$mirror" ]; then
  mirror=$(awk '$1 == "deb" && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
fi
[ -n "$mirror" ] || { echo "fresh_machine: no Debian source found in /etc/apt" >&2; exit 2; }

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", b - a }'; }

start=$(seconds)
debootstrap --variant=minbase bookworm "$fresh" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -20 "$work/debootstrap.log" >&2; exit 1; }
# The same sources as this machine (updates and security included), as a
# freshly installed machine would have.
rm -f "$fresh/etc/apt/sources.list"
cp /etc/apt/sources.list.d/*.sources "$fresh/etc/apt/sources.list.d/" 2>/dev/null || true
[ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$fresh/etc/apt/"
git clone -q --no-hardlinks "$root" "$fresh/root/varnel"
mount -t proc proc "$fresh/proc"
echo "fresh root ready in $(elapsed "$start" "$(seconds)") s (debootstrap from the machine's mirror)"

packages_before=$(chroot "$fresh" dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed')
start=$(seconds)
chroot "$fresh" env HOME=/root /root/varnel/scripts/install-deps.sh build >"$work/install.log" 2>&1 ||
  { tail -20 "$work/install.log" >&2; exit 1; }
install_s=$(elapsed "$start" "$(seconds)")
packages_after=$(chroot "$fresh" dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed')

mkdir -p "$work/www"
head -c "${size_mb}M" /dev/urandom >"$work/www/file.bin"
export work fresh
unshare --net bash -c '
  set -euo pipefail
  ip link set lo up
  (cd "$work/www" && exec python3 -m http.server --bind 127.0.0.1 8765) >/dev/null 2>&1 &
  server=$!
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/8765) 2>/dev/null && break
    sleep 0.1
  done
  /usr/bin/time -f "%e %U %S" -o "$work/download.time" \
    chroot "$fresh" env HOME=/root bash -c "cd /root/varnel && scripts/download.sh http://127.0.0.1:8765/file.bin -o /root/dl --wait" \
    >"$work/download.log" 2>&1 || { tail -20 "$work/download.log" >&2; exit 1; }
  chroot "$fresh" env HOME=/root /root/varnel/build/quick/apps/varnel/varnel service stop >/dev/null 2>&1 || true
  kill "$server"
'
read -r download_s user_s system_s <"$work/download.time"
want=$(sha256sum <"$work/www/file.bin")
got=$(sha256sum <"$fresh/root/dl/file.bin")
[ "$want" = "$got" ] || { echo "fresh_machine: the downloaded file differs" >&2; exit 1; }

echo "commit $(git -C "$root" rev-parse --short HEAD), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "installing the build packages: $install_s s ($((packages_after - packages_before)) packages set up)"
awk -v w="$download_s" -v u="$user_s" -v s="$system_s" -v i="$install_s" 'BEGIN {
  printf "download.sh (build and a verified download): %.0f s (%.0f CPU s)\n", w, u + s
  printf "together: %.0f s\n", i + w }'
tail -1 "$work/download.log"
