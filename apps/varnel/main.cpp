#include <string>
#include <vector>

#include "apps/varnel/command_line.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  vn::platform::InitializeProcess();
  // Folder and file names as UTF-8 on every system.
  auto arguments = vn::platform::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (auto& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return vn::cli::RunCommandLine(static_cast<int>(arguments.size()), pointers.data());
}
