#pragma once

// Shell completion scripts for varnel, made from the command tree the command
// line itself is built from, so a new subcommand or option completes without
// touching this file. Download ids come from the running service at completion
// time (`varnel --no-start list --ids`), which never starts it.

#include <string>
#include <string_view>
#include <vector>

namespace vn::cli {

// One command of the tree; the root is varnel itself (empty name).
struct CompletionCommand {
  std::string name;
  std::string description;
  std::vector<std::string> flags;         // "--wait", "-h": take no value
  std::vector<std::string> valueOptions;  // "-o", "--output-dir": the next word is their value
  bool completesId = false;               // its first argument is a download id
  std::vector<CompletionCommand> subcommands;
};

// The shells a script is made for, in the order help lists them.
const std::vector<std::string>& CompletionShells();

// The script for shell, one of CompletionShells(); throws std::invalid_argument
// for another.
std::string CompletionScript(const CompletionCommand& root, std::string_view shell);

}  // namespace vn::cli
