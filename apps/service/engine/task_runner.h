#pragma once

// The body of one run: probe, plan, transfer, join, verify, complete.

#include <functional>

#include "apps/service/engine/download_control.h"
#include "apps/service/engine/download_task.h"

namespace vn {

using TaskReport = std::function<void(const DownloadTask& task)>;

// Runs one download to one of Paused, Cancelled, Completed or Failed and
// reports through report (never while holding a lock; report may be empty).
// Never throws. queued is the task as it was queued (copied). control must
// outlive the call. previousRun, when not null, is the control of an earlier
// run of the same id: this run waits for it to finish before it touches the
// network or the files, unless control's stop flag is raised first.
// Called on the run's own thread; starts and joins the segment workers.
void RunDownloadTask(const DownloadTask& queued, DownloadControl& control, const TaskReport& report,
                     DownloadControl* previousRun) noexcept;

}  // namespace vn
