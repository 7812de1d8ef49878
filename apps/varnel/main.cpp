#include "apps/varnel/command_line.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  vn::platform::InitializeProcess();
  return vn::cli::RunCommandLine(argc, argv);
}
