// serve-file [OPTION...] FILE...: serves each FILE's bytes at /FILENAME on
// 127.0.0.1 (an ephemeral port) until standard input ends, for scripts that
// test installed binaries or run the service under faults, and for the Windows
// tests under Wine. Prints one URL per FILE, in order, one a line.
// /redirect/FILENAME answers 302 to the file's URL; /no-ranges/FILENAME ignores
// Range; /dropping/FILENAME closes the first two answers after a third of the
// file; /slow/FILENAME sends 100,000 bytes a second per connection. A line
// "faults=PERCENT" on standard input changes the fault chance of every file.
//   --faults=PERCENT   each answer suffers a random fault with this chance
//   --seed=N           seeds the faults (default 1)
//   --no-ranges=NAME   the file named NAME ignores Range (always 200)
//   --unknown-size=NAME  the file named NAME is sent chunked, without a size
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/http_server/http_test_server.h"

namespace {

bool TakeValue(const std::string& argument, const std::string& name, std::string& value) {
  if (argument.rfind(name, 0) != 0) return false;
  value = argument.substr(name.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int faultPercent = 0;
  std::uint32_t seed = 1;
  std::set<std::string> noRanges;
  std::set<std::string> unknownSize;
  std::vector<std::filesystem::path> files;
  try {
    for (int index = 1; index < argc; ++index) {
      const std::string argument = argv[index];
      std::string value;
      if (TakeValue(argument, "--faults=", value)) {
        faultPercent = std::stoi(value);
      } else if (TakeValue(argument, "--seed=", value)) {
        seed = static_cast<std::uint32_t>(std::stoul(value));
      } else if (TakeValue(argument, "--no-ranges=", value)) {
        noRanges.insert(value);
      } else if (TakeValue(argument, "--unknown-size=", value)) {
        unknownSize.insert(value);
      } else {
        files.emplace_back(argument);
      }
    }
  } catch (const std::exception&) {
    files.clear();
  }
  if (files.empty()) {
    std::cerr << "usage: serve-file [--faults=PERCENT] [--seed=N] [--no-ranges=NAME] "
                 "[--unknown-size=NAME] FILE...\n";
    return 2;
  }
  vn::test::HttpTestServer server(seed);
  std::vector<std::pair<std::string, vn::test::ResourceOptions>> resources;
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::cerr << "serve-file: cannot read " << file << "\n";
      return 1;
    }
    const std::string name = file.filename().string();
    vn::test::ResourceOptions resource;
    resource.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    resource.randomFaultPercent = faultPercent;
    resource.rangeSupport = noRanges.count(name) == 0 && unknownSize.count(name) == 0;
    resource.sendContentLength = unknownSize.count(name) == 0;
    server.SetResource("/" + name, resource);
    resources.emplace_back("/" + name, std::move(resource));
    vn::test::ResourceOptions redirect;
    redirect.redirectTo = server.Url("/" + name);
    server.SetResource("/redirect/" + name, redirect);
    vn::test::ResourceOptions whole = resources.back().second;
    whole.randomFaultPercent = 0;
    whole.rangeSupport = false;
    server.SetResource("/no-ranges/" + name, whole);
    vn::test::ResourceOptions dropping = resources.back().second;
    dropping.randomFaultPercent = 0;
    dropping.dropAfterBytes = static_cast<std::int64_t>(dropping.body.size() / 3);
    dropping.dropResponses = 2;
    server.SetResource("/dropping/" + name, dropping);
    vn::test::ResourceOptions slow = resources.back().second;
    slow.randomFaultPercent = 0;
    slow.bytesPerSecondPerConnection = 100000;
    server.SetResource("/slow/" + name, slow);
    std::cout << server.Url("/" + name) << "\n";
  }
  std::cout.flush();
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string value;
    if (!TakeValue(line, "faults=", value)) continue;
    for (auto& [path, resource] : resources) {
      resource.randomFaultPercent = std::atoi(value.c_str());
      server.SetResource(path, resource);
    }
  }
  return 0;
}
