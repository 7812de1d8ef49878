// Stands in for another program (the desktop user interface) that a program
// under test starts: writes its arguments, one a line, to the file beside it
// named after it plus ".arguments".
#include <fstream>

#include "platform/process.h"

int main(int argc, char** argv) {
  auto path = vn::platform::ProgramPath();
  path += ".arguments";
  std::ofstream out(path, std::ios::binary);
  for (int i = 1; i < argc; ++i) out << argv[i] << '\n';
  return 0;
}
