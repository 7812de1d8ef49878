#pragma once

// The body of one run: probe, plan, transfer, join, verify, complete.

#include <functional>

#include "apps/service/engine/download_control.h"
#include "apps/service/task/download_task.h"
#include "apps/service/engine/start_mode.h"

namespace vn {

using TaskReport = std::function<void(const DownloadTask& task)>;

// Runs one download to one of Paused, Cancelled, Completed or Failed and
// reports through report (never while holding a lock; report may be empty).
// Never throws. queued is the task as it was queued (copied). control must
// outlive the call. The caller has waited for every earlier run of the id. A
// stop raised before the probe got an answer ends the run Paused or Cancelled.
// Called on the run's own thread; starts and joins the segment workers.
void RunDownloadTask(const DownloadTask& queued, DownloadControl& control, const TaskReport& report,
                     StartMode mode) noexcept;

}  // namespace vn
