// Runs the legacy adoption for the target given as the only argument, so tests
// can place a copy of this program inside a made-up project tree: which older
// databases count as candidates depends on where the program lies.
#include <cstdio>

#include "apps/service/core/legacy_database.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: adopt_legacy_probe TARGET\n");
    return 2;
  }
  vn::AdoptLegacyDatabase(argv[1]);
  return 0;
}
