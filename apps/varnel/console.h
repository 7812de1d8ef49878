#pragma once

// Standard output and error of varnel. On a terminal a status line can be
// redrawn in place and the screen repainted; anywhere else (files, pipes, CI)
// only whole lines are written and no control character other than the line
// end ever is. Used from the main thread only.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vn::cli {

class Console {
 public:
  // Asks once whether standard output is a terminal.
  Console();

  bool IsTerminal() const { return terminal; }

  // Columns to fit lines into; nullopt when output is not a terminal.
  std::optional<std::size_t> Width() const;

  // Writes one line to standard output, ending a redrawn line first.
  void Line(const std::string& text);

  // Terminal only: replaces the line being redrawn with text (cut to the width).
  void Redraw(const std::string& text);

  // Terminal only: paints lines from the top of the screen, erasing the rest.
  void Repaint(const std::vector<std::string>& lines);

  // Ends a redrawn line, so what follows starts on a line of its own.
  void EndRedraw();

  // "varnel: " and text on standard error, after ending a redrawn line.
  void Error(const std::string& text);

 private:
  bool terminal = false;
  bool redrawing = false;
};

}  // namespace vn::cli
