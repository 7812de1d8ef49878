// serve-file FILE: serves FILE's bytes at /FILENAME on 127.0.0.1 (an ephemeral
// port) until standard input ends, for scripts that test installed binaries
// and for the Windows tests under Wine. Prints the URL as its first line.
// /redirect/FILENAME answers 302 to the file's URL; /no-ranges/FILENAME ignores
// Range headers; /dropping/FILENAME closes the first two answers after a third
// of the file; /slow/FILENAME sends 100,000 bytes a second per connection.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tests/http_server/http_test_server.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: serve-file FILE\n";
    return 2;
  }
  const std::filesystem::path file = argv[1];
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "serve-file: cannot read " << file << "\n";
    return 1;
  }
  vn::test::HttpTestServer server;
  vn::test::ResourceOptions resource;
  resource.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const std::string path = "/" + file.filename().string();
  server.SetResource(path, resource);
  vn::test::ResourceOptions redirect;
  redirect.redirectTo = server.Url(path);
  server.SetResource("/redirect" + path, redirect);
  vn::test::ResourceOptions noRanges = resource;
  noRanges.rangeSupport = false;
  server.SetResource("/no-ranges" + path, noRanges);
  vn::test::ResourceOptions dropping = resource;
  dropping.dropAfterBytes = static_cast<std::int64_t>(resource.body.size() / 3);
  dropping.dropResponses = 2;
  server.SetResource("/dropping" + path, dropping);
  vn::test::ResourceOptions slow = resource;
  slow.bytesPerSecondPerConnection = 100000;
  server.SetResource("/slow" + path, slow);
  std::cout << server.Url(path) << std::endl;
  std::string ignored;
  while (std::getline(std::cin, ignored)) {
  }
  return 0;
}
