#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: once in a normal
# build and once with AddressSanitizer and UndefinedBehaviorSanitizer (both
# replay the fuzz corpora). A third build with ThreadSanitizer runs the tests of
# the threaded parts: engine, store, pipe server and the service itself. Tests run
# inside a private network namespace with only loopback up, so nothing a test
# starts (the torrent engine announces itself to local networks) can reach
# another host. Each test binary makes its own temporary HOME, LOCALAPPDATA and
# XDG_RUNTIME_DIR; the whole run also gets a private root, so nothing touches
# the user's files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The layering first: it needs no build and fails fast.
"$root/scripts/check-includes.sh"
# What the tests need, the Windows leg's cross compiler and Wine, and the real
# browsers of the browser tests, so that a fresh machine runs every leg. The
# fuzz corpora replay in the normal builds (no clang needed).
"$root/scripts/install-deps.sh" test windows browser
# The layer picture in docs/ is drawn from the build's target graph: it must
# not drift from it.
"$root/scripts/layer-diagram.sh" --check

# The caches stay where the caller's HOME keeps them: below, HOME moves into a
# temporary root that is removed at the end, and with it the Windows libraries
# and ccache's objects would go, to be rebuilt by every run.
export VARNEL_DEPS_CACHE=${VARNEL_DEPS_CACHE:-$HOME/.cache/varnel}
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
fi

run_root=$(mktemp -d "${TMPDIR:-/tmp}/varnel-run-XXXXXX")
trap 'rm -rf "$run_root"' EXIT
mkdir -p "$run_root/home" "$run_root/localappdata" "$run_root/run" "$run_root/downloads"
chmod 700 "$run_root/run"
export HOME="$run_root/home" LOCALAPPDATA="$run_root/localappdata"
export XDG_RUNTIME_DIR="$run_root/run" XDG_DOWNLOAD_DIR="$run_root/downloads"
export XDG_DATA_HOME="$run_root/home/.local/share"

in_private_network() {
  if [ "$(id -u)" -eq 0 ]; then
    unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
  else
    unshare --net --map-root-user sh -c 'ip link set lo up && exec "$@"' sh "$@"
  fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)
# Most tests wait on sockets and timers, so twice as many as cores run at once
# in the release and ThreadSanitizer legs.
waiting_jobs=$((2 * jobs))
windows_leg=false
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && command -v wine >/dev/null 2>&1; then
  windows_leg=true
fi

for kind in release sanitize; do
  echo "== build ($kind)"
  "$root/scripts/build.sh" "$kind"
  if [ "$kind" = release ] && $windows_leg; then
    # The cross build runs beside the tests, which mostly wait on sockets and
    # timers; at a lower priority, so it takes only what they leave.
    nice -n 10 "$root/scripts/build-windows.sh" >"$run_root/windows-build.log" 2>&1 &
    windows_build=$!
  fi
  echo "== tests ($kind)"
  # Tests labelled slow_under_sanitizer (the crash loop) run in the release leg only.
  skip=()
  test_jobs=$waiting_jobs
  if [ "$kind" = sanitize ]; then skip=(-LE slow_under_sanitizer); test_jobs=$jobs; fi
  in_private_network ctest --test-dir "$root/build/$kind" --output-on-failure -j "$test_jobs" --timeout 300 \
    "${skip[@]}"
done

# Only the binaries these tests need are built, so ctest leaves out the tests
# of the rest (listed as *_NOT_BUILT) and the corpus replays. Every process (the
# service started by the end-to-end tests too) writes its report to a file, and
# any file fails the run. The 64 MiB download runs the same code as the smaller
# ones, at a size that ThreadSanitizer's slowdown pushes past its time bound.
echo "== build (tsan)"
"$root/scripts/build.sh" tsan engine_tests download_store_test pipe_server_tests e2e_tests service
echo "== tests (tsan)"
tsan_reports="$run_root/tsan"
mkdir -p "$tsan_reports"
export TSAN_OPTIONS="suppressions=$root/scripts/tsan-suppressions.txt log_path=$tsan_reports/report second_deadlock_stack=1"
# The crash loop (slow_under_sanitizer) runs in the release leg only, and the
# browser tests (browser) in the release and sanitizer legs, whose trees hold
# every program they start.
in_private_network ctest --test-dir "$root/build/tsan" --output-on-failure -j "$waiting_jobs" --timeout 300 \
  -E '_NOT_BUILT$|^fuzz_replay_|SixtyFourMiB' -LE 'slow_under_sanitizer|browser'
if [ -n "$(ls -A "$tsan_reports")" ]; then
  cat "$tsan_reports"/* >&2
  echo "ThreadSanitizer reported the problems above" >&2
  exit 1
fi
unset TSAN_OPTIONS

# The Windows leg: the same tree cross-built for Windows and run under Wine.
if $windows_leg; then
  echo "== Windows (cross-built, under Wine)"
  if ! wait "$windows_build"; then
    cat "$run_root/windows-build.log" >&2
    echo "The Windows cross build failed" >&2
    exit 1
  fi
  "$root/scripts/test-windows.sh"
fi
# The Debian package made from the release tree: file list, dependencies, and
# a download with its unpacked binaries.
"$root/scripts/check-package.sh"
