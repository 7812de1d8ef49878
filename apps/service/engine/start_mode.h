#pragma once

namespace vn {

// How a run treats what earlier runs of its download left on disk.
enum class StartMode {
  Continue,  // keep the partial files and progress when they still fit
  FromZero,  // remove the final file and the partial files first
};

}  // namespace vn
