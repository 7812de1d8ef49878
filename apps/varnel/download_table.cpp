#include "apps/varnel/download_table.h"

#include <algorithm>
#include <cstdio>

#include "apps/protocol/status_texts.h"
#include "apps/varnel/byte_units.h"
#include "apps/varnel/progress_line.h"
#include "apps/varnel/text_width.h"

namespace vn::cli {
namespace {

// Below this, a name column tells too little; narrower tables drop other columns.
constexpr std::size_t kMinNameColumns = 12;
constexpr std::string_view kGap = "  ";

struct Column {
  explicit Column(std::string title, bool alignRight = false)
      : title(std::move(title)), alignRight(alignRight) {}

  std::string title;
  bool alignRight;
  std::vector<std::string> cells;
  std::size_t width = 0;
};

std::string ProgressCell(const TaskView& task) {
  const auto percent = PercentDone(task);
  if (!percent) return "-";
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.1f%%", *percent);
  return buffer;
}

std::string SizeCell(const TaskView& task) {
  return task.totalBytes > 0 ? FormatBytes(task.totalBytes) : "?";
}

std::string RateCell(const TaskView& task) {
  return task.speedBytesPerSecond > 0 ? FormatRate(task.speedBytesPerSecond) : "-";
}

std::string NameCell(const TaskView& task) {
  std::string name = task.fileName;
  if (task.status == status_text::kFailed && !task.failureReason.empty()) {
    name += " (" + task.failureReason + ")";
  } else if (const auto waiting = WaitingText(task); !waiting.empty()) {
    name += " (" + waiting + ")";
  }
  return Printable(name);
}

void Measure(Column& column) {
  column.width = DisplayWidth(column.title);
  for (const auto& cell : column.cells) column.width = std::max(column.width, DisplayWidth(cell));
}

}  // namespace

std::vector<std::string> RenderDownloadTable(const std::vector<TaskView>& tasks,
                                             std::optional<std::size_t> maxWidth) {
  Column id("ID"), status("STATUS"), progress("PROGRESS", true), size("SIZE", true),
      rate("RATE", true), name("NAME");
  for (const auto& task : tasks) {
    id.cells.push_back(Printable(task.id));
    status.cells.push_back(Printable(task.status));
    progress.cells.push_back(ProgressCell(task));
    size.cells.push_back(SizeCell(task));
    rate.cells.push_back(RateCell(task));
    name.cells.push_back(NameCell(task));
  }
  for (Column* column : {&id, &status, &progress, &size, &rate, &name}) Measure(*column);

  // Columns before NAME, in the order they are given up when space runs short.
  std::vector<Column*> fixed = {&id, &status, &progress, &size, &rate};
  const auto fixedWidth = [&] {
    std::size_t total = 0;
    for (const Column* column : fixed) total += column->width + kGap.size();
    return total;
  };
  std::size_t nameWidth = name.width;
  if (maxWidth) {
    for (Column* optional : {&rate, &size, &progress}) {
      if (fixedWidth() + kMinNameColumns <= *maxWidth) break;
      fixed.erase(std::find(fixed.begin(), fixed.end(), optional));
    }
    const std::size_t used = fixedWidth();
    nameWidth = used < *maxWidth ? std::min(name.width, *maxWidth - used) : 0;
  }

  std::vector<std::string> lines;
  lines.reserve(tasks.size() + 1);
  const auto render = [&](auto cellOf) {
    std::string line;
    for (const Column* column : fixed) {
      const std::string& cell = cellOf(*column);
      line += column->alignRight ? PadLeft(cell, column->width) : PadRight(cell, column->width);
      line += kGap;
    }
    line += TruncateToWidth(cellOf(name), nameWidth);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    // Ids wider than the whole screen are the one thing that can still overflow.
    if (maxWidth) line = TruncateToWidth(line, *maxWidth);
    lines.push_back(std::move(line));
  };
  render([](const Column& column) -> const std::string& { return column.title; });
  for (std::size_t row = 0; row < tasks.size(); ++row) {
    render([row](const Column& column) -> const std::string& { return column.cells[row]; });
  }
  return lines;
}

}  // namespace vn::cli
