#pragma once

// The per-download speed limit, shared by all segment workers of a run
// through the control block's one-second window.

#include <cstdint>

#include "apps/service/engine/download_control.h"

namespace vn {

// Accounts bytes just written and, when the window's budget is spent, sleeps
// until the budget allows them. Bytes beyond one window's budget are carried
// into the next windows, so the long-run rate stays at the limit whatever the
// chunk size. Does nothing while the limit is off. Takes limiterMutex (never
// while sleeping); returns early when stopRequested is raised or the limit is
// switched off. Any worker thread; the caller must hold no segment mutex.
void ThrottleTransfer(DownloadControl& control, std::int64_t bytes);

// Starts a fresh window (after a change of the limit). Takes limiterMutex.
void ResetThrottleWindow(DownloadControl& control);

}  // namespace vn
