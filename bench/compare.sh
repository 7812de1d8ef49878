#!/usr/bin/env bash
# Times the service (driven through `varnel add --wait`) against aria2c, axel and
# curl, all downloading from one private nginx on 127.0.0.1, in the same run,
# alternating contestants; then batches of small files against `aria2c -i -j 16`. Prints medians of wall time, CPU time and peak RSS,
# and checks the SHA-256 of every downloaded file.
#
#   bench/compare.sh [RUNS]          (default 3 runs per contestant)
#
# Environment: BENCH_DIR (work folder on the normal disk, default
# /var/tmp/varnel-bench), BENCH_SIZE_MIB (scenario 1 size, default 1024),
# BENCH_SKIP_SLOW=1 skips the single-connection curl of scenario 2 (about 63 s),
# BENCH_ONLY_BATCHES=1 skips scenarios 1 and 2 (batches and scale only),
# BENCH_ONLY_ENQUEUE=1 measures only the enqueue cost while 100 downloads
# transfer, RUNS times,
# BENCH_MANY=N adds N downloads of 16 KiB enqueued at once (10000: minutes).
# BENCH_ONLY_OUTAGE=1 runs only the outage scenario (the server away for
# BENCH_OUTAGE_SECONDS, default 20, mid-download; every contestant at its
# default settings).
# BENCH_ONLY_TORRENT=1 runs only the torrent scenarios (a 512 MiB file from one
# seeder, BENCH_TORRENT_MIB to change it; twice that from four seeders; 200
# files of 1 MiB), BENCH_TORRENT_QUICK=1 only the first of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}

if [ -z "${VARNEL_BENCH_IN_NETNS:-}" ]; then
  "$root/scripts/install-deps.sh" bench
  "$root/scripts/build.sh" release
  export VARNEL_BENCH_IN_NETNS=1
  # The service's torrent engine announces itself on local networks: keep the
  # whole benchmark inside a private network namespace with loopback only.
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$0" "$@"
  else
    exec unshare --net --map-root-user sh -c 'ip link set lo up && exec "$@"' sh "$0" "$@"
  fi
fi

exec python3 "$root/bench/compare.py" --root "$root" --runs "$runs"
