#pragma once

// The table of `varnel list` and `varnel watch`: one header line, then one line
// per download with the columns ID, STATUS, PROGRESS, SIZE, RATE and NAME.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "apps/varnel/task_view.h"

namespace vn::cli {

// Lines without line ends or trailing spaces, in the order of tasks. With a
// maxWidth every line fits in that many columns: names are cut with an
// ellipsis, and on narrow screens RATE, then SIZE, then PROGRESS are left out
// to keep room for names. Without one (output to a file or pipe) nothing is
// cut. Ids are never cut while they fit, since commands need them whole.
// Control characters in the service's texts are shown as '?'. A failed
// download's reason follows its name.
std::vector<std::string> RenderDownloadTable(const std::vector<TaskView>& tasks,
                                             std::optional<std::size_t> maxWidth);

}  // namespace vn::cli
