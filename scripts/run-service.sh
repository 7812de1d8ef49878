#!/usr/bin/env bash
# Installs what the build needs and is missing, builds the service (as
# scripts/download.sh does, in build/quick), and runs it in the foreground.
# Ctrl-C stops it cleanly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" build
"$root/scripts/build.sh" quick service
exec "$root/build/quick/apps/service/service"
