#!/usr/bin/env bash
# Installs what is missing, builds, and runs the service in the foreground.
# Ctrl-C stops it cleanly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release
exec "$root/build/release/apps/service/service"
