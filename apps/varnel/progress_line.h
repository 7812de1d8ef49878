#pragma once

// One line that tells how a download is doing, in two forms: a bar for a
// terminal (redrawn in place) and plain text for logs and scripts.

#include <cstddef>
#include <optional>
#include <string>

#include "apps/varnel/task_view.h"

namespace vn::cli {

// "waiting: <cause>, next try in N s" while a download waits out a server
// that is down (it then shows in place of the connections); empty otherwise.
std::string WaitingText(const TaskView& task);

// Seconds left at the current rate, or nullopt when there is no rate, no known
// size or no transfer going on.
std::optional<std::int64_t> SecondsLeft(const TaskView& task);

// "[=======>      ]  45.2%  12.3 MiB / 27 MiB  1.2 MiB/s  ETA 12s  8 conn"
// fitted into width columns: the bar shrinks first and is left out when it
// would be shorter than a few columns; then the text is cut. The status word
// leads when the download is not Downloading ("Verifying", "Queued" ...). No
// control characters.
std::string RenderProgressBar(const TaskView& task, std::size_t width);

// "dl_1 Downloading 45.2% 12.3 MiB of 27 MiB, 1.2 MiB/s, ETA 12s, 8 connections"
// for output that is not a terminal; the parts that are unknown are left out.
std::string RenderProgressText(const TaskView& task);

}  // namespace vn::cli
