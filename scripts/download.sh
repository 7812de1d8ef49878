#!/usr/bin/env bash
# Installs what the build needs and is missing, builds only varnel and the
# service (optimised, without debug information or tests, in build/quick), and
# downloads URL with `varnel add --wait`; varnel starts the download service in
# the background when it is not running (stop it with `varnel service stop`).
# Further arguments go to `varnel add` (e.g. -o DIR, -x 16).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 1 ]; then
  echo "usage: scripts/download.sh URL [varnel add options]" >&2
  exit 2
fi
"$root/scripts/install-deps.sh" build
"$root/scripts/build.sh" quick varnel service >/dev/null
exec "$root/build/quick/apps/varnel/varnel" add "$@" --wait
