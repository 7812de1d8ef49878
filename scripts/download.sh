#!/usr/bin/env bash
# Installs what is missing, builds only the three programs (no tests), and
# downloads URL with `varnel add --wait`; varnel starts the download service in
# the background when it is not running (stop it with `varnel service stop`).
# Further arguments go to `varnel add` (e.g. -o DIR, -x 16).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 1 ]; then
  echo "usage: scripts/download.sh URL [varnel add options]" >&2
  exit 2
fi
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release varnel service native-host >/dev/null
exec "$root/build/release/apps/varnel/varnel" add "$@" --wait
