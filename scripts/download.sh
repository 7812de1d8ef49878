#!/usr/bin/env bash
# Installs what is missing, builds, starts the download service in the
# background when it is not running yet, and downloads URL with
# `varnel add --wait`. Further arguments go to `varnel add` (e.g. -o DIR, -x 16).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 1 ]; then
  echo "usage: scripts/download.sh URL [varnel add options]" >&2
  exit 2
fi
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release >/dev/null
varnel="$root/build/release/apps/varnel/varnel"
service="$root/build/release/apps/service/service"

if ! "$varnel" list >/dev/null 2>&1; then
  log_dir="${XDG_STATE_HOME:-$HOME/.local/state}/varnel"
  mkdir -p "$log_dir"
  nohup "$service" >>"$log_dir/service.log" 2>&1 </dev/null &
  for _ in $(seq 1 100); do
    "$varnel" list >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! "$varnel" list >/dev/null 2>&1; then
    echo "The download service did not start; see $log_dir/service.log" >&2
    exit 3
  fi
  echo "Started the download service (log: $log_dir/service.log; stop it with: pkill -x service)"
fi
exec "$varnel" add "$@" --wait
