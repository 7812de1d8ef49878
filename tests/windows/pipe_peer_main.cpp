// pipe-peer NAME ANSWERS RECORD: stands in for the service or the desktop user
// interface in the Windows end-to-end checks. Serves the pipe NAME with the
// platform's own listener; answers a request with ANSWERS[its "type"], else
// ANSWERS["*"], else closes the connection unanswered (ANSWERS is a JSON object
// of texts). Appends each request as one line to RECORD. Prints "ready" once it
// listens and ends when its standard input ends.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/pipe.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: pipe-peer NAME ANSWERS RECORD\n";
    return 2;
  }
  const nlohmann::json answers = nlohmann::json::parse(argv[2]);
  std::ofstream record(argv[3], std::ios::binary | std::ios::app);
  std::mutex recordMutex;
  vn::platform::PipeListener listener(argv[1], [&](const std::string& request) {
    {
      const std::lock_guard lock(recordMutex);
      record << request << '\n' << std::flush;
    }
    const auto parsed = nlohmann::json::parse(request, nullptr, false);
    const auto type = parsed.is_object() ? parsed.value("type", "*") : std::string("*");
    const auto answer = answers.contains(type) ? answers[type] : answers.value("*", nlohmann::json());
    return answer.is_string() ? answer.get<std::string>() : std::string();
  });
  listener.Start();
  std::cout << "ready" << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  listener.Stop();
  return 0;
}
