// The run registry: one process-wide map from task id to the control block of
// the id's latest run. An entry lives from Queue until that run ends; a later
// Queue of the id replaces it, and the earlier run, which keeps its own
// control, then erases nothing when it ends. The controls of one id also form
// a chain, newest first, along which each run waits for the earlier ones.
#include "apps/service/engine/download_engine.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "apps/service/engine/download_control.h"
#include "apps/service/engine/global_speed_limit.h"
#include "apps/service/engine/run_slots.h"
#include "apps/service/engine/speed_limiter.h"
#include "apps/service/engine/task_runner.h"

namespace vn {
namespace {

struct RunRegistry {
  std::mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<DownloadControl>> runs;  // guarded by mutex
};

RunRegistry& Registry() {
  // Detached runs may still end while the process exits; the registry is
  // therefore never destroyed.
  static RunRegistry* const registry = new RunRegistry();
  return *registry;
}

std::shared_ptr<DownloadControl> Find(RunRegistry& registry, const std::string& id) {
  const auto found = registry.runs.find(id);
  return found == registry.runs.end() ? nullptr : found->second;
}

// Erases id's entry only while it still holds control.
void Unregister(const std::string& id, const std::shared_ptr<DownloadControl>& control) {
  RunRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.runs.find(id);
  if (found != registry.runs.end() && found->second == control) registry.runs.erase(found);
}

}  // namespace

void DownloadEngine::SetTaskUpdateCallback(TaskUpdateCallback callback) {
  onTaskUpdate = std::move(callback);
}

void DownloadEngine::SetWaitClock(WaitClock& clock) { waitClock = &clock; }

void DownloadEngine::SetFileNameCallback(FileNameCallback callback) {
  settleFileName = std::move(callback);
}

DownloadEngine::DownloadEngine(std::size_t maxActiveRuns)
    : waitClock(&SteadyWaitClock()),
      slots(std::make_shared<RunSlots>(maxActiveRuns)),
      globalLimit(std::make_shared<GlobalSpeedLimit>()) {}

void DownloadEngine::Queue(const DownloadTask& task, StartMode mode) {
  auto control = std::make_shared<DownloadControl>();
  control->clock = waitClock;
  ResetThrottleWindow(*control);
  control->speedLimitEnabled.store(task.useSpeedLimiter && task.maxSpeedBytesPerSecond > 0);
  control->speedLimit.store(task.maxSpeedBytesPerSecond);
  control->globalLimit = globalLimit;
  control->settleFileName = settleFileName;

  RunRegistry& registry = Registry();
  std::shared_ptr<DownloadControl> replaced;
  {
    std::lock_guard lock(registry.mutex);
    std::shared_ptr<DownloadControl>& slot = registry.runs[task.id];
    replaced = std::exchange(slot, control);
    std::lock_guard finishLock(control->finishMutex);
    control->previous = replaced;
  }

  // One copy of the task serves the run and both of its ways to end: a long
  // queue of waiting runs holds it once each.
  const auto run = std::make_shared<const DownloadTask>(task);
  // No run will end this entry: the run it replaced is the id's run again. A
  // later run that already follows this one still waits, through it, for the
  // earlier runs.
  const auto unstarted = [run, control, replaced] {
    RunRegistry& registry = Registry();
    {
      std::lock_guard lock(registry.mutex);
      const auto found = registry.runs.find(run->id);
      if (found != registry.runs.end() && found->second == control) {
        if (replaced) {
          found->second = replaced;
        } else {
          registry.runs.erase(found);
        }
      }
    }
    control->MarkFinished(false);
  };

  // Runs start in the order they were queued, so an earlier run of the id has
  // its slot before this one takes one to wait for it: no slot is held waiting
  // for a run that has none.
  try {
    slots->Start(
        [run, control, mode, callback = onTaskUpdate] {
          control->WaitForEarlierRuns();
          RunDownloadTask(*run, *control, callback, mode);
          Unregister(run->id, control);
          control->MarkFinished(true);
        },
        [run, unstarted, callback = onTaskUpdate] {
          unstarted();
          DownloadTask failed = *run;
          failed.status = DownloadStatus::Failed;
          failed.failureReason = kRunNotStarted;
          if (callback) callback(failed);
        });
  } catch (...) {
    unstarted();
    throw;
  }
}

void DownloadEngine::Pause(const std::string& id) {
  RunRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  if (const auto control = Find(registry, id)) {
    control->pauseRequested.store(true);
    control->stopRequested.store(true);
  }
}

bool DownloadEngine::Cancel(const std::string& id) {
  RunRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const auto control = Find(registry, id);
  return control != nullptr && control->RequestCancel();
}

bool DownloadEngine::Resume(const std::string& id) {
  RunRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const auto control = Find(registry, id);
  return control != nullptr && control->Revive();
}

bool DownloadEngine::IsRunning(const std::string& id) const {
  RunRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  return registry.runs.count(id) != 0;
}

void DownloadEngine::SetSpeedLimit(const std::string& id, bool enabled,
                                   std::int64_t bytesPerSecond) {
  RunRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  if (const auto control = Find(registry, id)) {
    control->speedLimitEnabled.store(enabled && bytesPerSecond >= 1);
    control->speedLimit.store(bytesPerSecond < 0 ? 0 : bytesPerSecond);
    ResetThrottleWindow(*control);
  }
}

void DownloadEngine::SetGlobalSpeedLimit(bool enabled, std::int64_t bytesPerSecond) {
  vn::SetGlobalSpeedLimit(*globalLimit, enabled, bytesPerSecond);
}

}  // namespace vn
