#!/usr/bin/env bash
# Times a cold build: a fresh build tree, ccache off, configured and built by
# scripts/build.sh with the given kind and targets. Prints CPU seconds
# (user + system, the steady figure on a shared machine), wall seconds and the
# ten slowest steps of ninja's log.
# Usage: bench/cold_build.sh [KIND] [TARGET...]   (default: release varnel service native-host)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=(varnel service native-host); fi
dir=$(mktemp -d /tmp/varnel-cold-XXXXXX)
trap 'rm -rf "$dir"' EXIT
times="$dir.times"
load=$(cut -d" " -f1-3 /proc/loadavg)
CCACHE_DISABLE=1 VARNEL_BUILD_DIR="$dir" /usr/bin/time -f '%U %S %e' -o "$times" \
  "$root/scripts/build.sh" "$kind" "${targets[@]}" >/dev/null
read -r user sys wall <"$times"
rm -f "$times"
echo "kind $kind, targets ${targets[*]}, load average before: $load"
awk -v u="$user" -v s="$sys" -v w="$wall" \
  'BEGIN { printf "CPU %.0f s (user %.0f + system %.0f), wall %.0f s\n", u + s, u, s, w }'
python3 "$root/bench/ninja_top.py" "$dir/.ninja_log"
