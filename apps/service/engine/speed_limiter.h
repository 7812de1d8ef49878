#pragma once

// The per-download speed limit, shared by all segment workers of a run
// through the control block's one-second window, and the engine's limit on all
// runs together, which gives the bytes of every worker turns in the order they
// arrive.

#include <cstdint>

#include "apps/service/engine/download_control.h"

namespace vn {

// Accounts bytes just written and, when the window's budget is spent, sleeps
// until the budget allows them. Bytes beyond one window's budget are carried
// into the next windows, so the long-run rate stays at the limit whatever the
// chunk size. Then, when the run has a global limit, queues the same bytes
// behind all bytes the global limit has let through and sleeps until their
// turn. Does nothing while a limit is off. Takes limiterMutex, then the global
// mutex, one after the other (never while sleeping); returns early when
// stopRequested is raised or a limit is switched off. Any worker thread; the
// caller must hold no segment mutex.
void ThrottleTransfer(DownloadControl& control, std::int64_t bytes);

// Starts a fresh window (after a change of the limit). Takes limiterMutex.
void ResetThrottleWindow(DownloadControl& control);

// Switches the global limit on (bytesPerSecond >= 1 and enabled) or off; the
// turns given so far end, and the queue starts afresh. Takes global.mutex; any thread.
void SetGlobalSpeedLimit(GlobalSpeedLimit& global, bool enabled, std::int64_t bytesPerSecond);

}  // namespace vn
