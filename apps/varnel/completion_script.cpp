#include "apps/varnel/completion_script.h"

#include <functional>
#include <stdexcept>
#include <utility>

// The bash and zsh scripts share one shape: `_varnel_node PATH` sets what the
// command at PATH ("", "service", "service stop") offers, and `_varnel` walks
// the words before the cursor, skipping options and their values, to find that
// PATH and how many plain arguments follow it. Then the cursor gets an option,
// a subcommand, a download id (a command whose first argument is an id, before
// that argument) or a file name. The fish script states the same tree as
// `complete` rules with subcommand conditions.

namespace vn::cli {
namespace {

constexpr const char* kIdsCommand = "command varnel --no-start list --ids 2>/dev/null";

std::string Joined(const std::vector<std::string>& words, const std::string& separator = " ") {
  std::string joined;
  for (const auto& word : words) joined += (joined.empty() ? "" : separator) + word;
  return joined;
}

// Inside single quotes in bash and zsh.
std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Inside single quotes in fish, where backslash escapes the quote and itself.
std::string FishQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

// The first clause of a help text, enough for a menu.
std::string Summary(const std::string& description) {
  return description.substr(0, description.find(';'));
}

std::vector<std::string> SubcommandNames(const CompletionCommand& command) {
  std::vector<std::string> names;
  for (const auto& sub : command.subcommands) names.push_back(sub.name);
  return names;
}

// Calls visit for every command of the tree with its path ("service stop").
void Walk(const CompletionCommand& command, const std::string& path,
          const std::function<void(const CompletionCommand&, const std::string&)>& visit) {
  visit(command, path);
  for (const auto& sub : command.subcommands) {
    Walk(sub, path.empty() ? sub.name : path + " " + sub.name, visit);
  }
}

// `_varnel_node`, the same text for bash and zsh.
std::string NodeFunction(const CompletionCommand& root) {
  std::string text = "_varnel_node() {\n  case $1 in\n";
  Walk(root, "", [&](const CompletionCommand& command, const std::string& path) {
    std::vector<std::string> described;
    for (const auto& sub : command.subcommands) {
      described.push_back(ShellQuoted(sub.name + ":" + Summary(sub.description)));
    }
    text += "    " + ShellQuoted(path) + ")\n";
    text += "      _vn_subs=" + ShellQuoted(Joined(SubcommandNames(command))) + "\n";
    text += "      _vn_described=(" + Joined(described) + ")\n";
    text += "      _vn_flags=" + ShellQuoted(Joined(command.flags)) + "\n";
    text += "      _vn_values=" + ShellQuoted(Joined(command.valueOptions)) + "\n";
    text += std::string("      _vn_id=") + (command.completesId ? "1" : "0") + " ;;\n";
  });
  return text + "  esac\n}\n";
}

// Replaces every "@KEY@" of text by its value.
std::string Filled(std::string text,
                   const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [key, value] : values) {
    const std::string token = "@" + key + "@";
    for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
      text.replace(at, token.size(), value);
      at += value.size();
    }
  }
  return text;
}

// The walk over the words before the cursor: @FIRST@ is the index of the word
// after `varnel`, @END@ that of the cursor's word, @WORD@ reads word _vn_i,
// @VALUE@ completes an option's value at the cursor.
constexpr const char* kWalkLoop = R"sh(  for ((_vn_i = @FIRST@; _vn_i < @END@; _vn_i++)); do
    _vn_word=@WORD@
    if [[ " $_vn_values " == *" $_vn_word "* ]]; then
      if ((_vn_i + 1 == @END@)); then @VALUE@; return 0; fi
      ((_vn_i++))
      continue
    fi
    [[ $_vn_word == -* ]] && continue
    if ((_vn_arguments == 0)) && [[ " $_vn_subs " == *" $_vn_word "* ]]; then
      _vn_path=${_vn_path:+$_vn_path }$_vn_word
      _varnel_node "$_vn_path"
    else
      ((_vn_arguments++))
    fi
  done
)sh";

constexpr const char* kBashFunction = R"sh(_varnel() {
  local _vn_subs _vn_flags _vn_values _vn_id _vn_path='' _vn_word _vn_i
  local -a _vn_described
  local -i _vn_arguments=0
  local cur=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()
  _varnel_node ''
@WALK@  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$_vn_flags $_vn_values" -- "$cur"))
  elif [[ -n $_vn_subs ]]; then
    COMPREPLY=($(compgen -W "$_vn_subs" -- "$cur"))
  elif ((_vn_id && _vn_arguments == 0)); then
    COMPREPLY=($(compgen -W "$(@IDS@)" -- "$cur"))
  else
    compopt -o default 2>/dev/null
  fi
  return 0
}
complete -F _varnel varnel
)sh";

constexpr const char* kZshFunction = R"sh(_varnel() {
  local _vn_subs _vn_flags _vn_values _vn_id _vn_path='' _vn_word
  local -a _vn_described
  local -i _vn_arguments=0 _vn_i
  _varnel_node ''
@WALK@  if [[ $PREFIX == -* ]]; then
    compadd -- ${=_vn_flags} ${=_vn_values}
  elif [[ -n $_vn_subs ]]; then
    _describe -t commands 'varnel command' _vn_described
  elif ((_vn_id && _vn_arguments == 0)); then
    compadd -- ${(f)"$(@IDS@)"}
  else
    _files
  fi
}
if [[ ${zsh_eval_context[-1]} == loadautofunc ]]; then
  _varnel "$@"
else
  compdef _varnel varnel
fi
)sh";

std::string BashScript(const CompletionCommand& root) {
  const auto walk = Filled(kWalkLoop, {{"FIRST", "1"},
                                       {"END", "COMP_CWORD"},
                                       {"WORD", "${COMP_WORDS[_vn_i]}"},
                                       {"VALUE", "compopt -o default 2>/dev/null"}});
  return "# bash completion for varnel, made by `varnel completion bash`.\n" + NodeFunction(root) +
         Filled(kBashFunction, {{"WALK", walk}, {"IDS", kIdsCommand}});
}

std::string ZshScript(const CompletionCommand& root) {
  const auto walk = Filled(
      kWalkLoop,
      {{"FIRST", "2"}, {"END", "CURRENT"}, {"WORD", "${words[_vn_i]}"}, {"VALUE", "_files"}});
  return "#compdef varnel\n# zsh completion for varnel, made by `varnel completion zsh`.\n" +
         NodeFunction(root) + Filled(kZshFunction, {{"WALK", walk}, {"IDS", kIdsCommand}});
}

std::string FishScript(const CompletionCommand& root) {
  std::string text =
      "# fish completion for varnel, made by `varnel completion fish`.\n"
      "complete -c varnel -f\n";
  Walk(root, "", [&](const CompletionCommand& command, const std::string& path) {
    // Holds while the words so far lead to this command.
    std::string here = "__fish_use_subcommand";
    if (!path.empty()) {
      here.clear();
      std::string rest = path + " ";
      for (auto space = rest.find(' '); space != std::string::npos; space = rest.find(' ')) {
        here += (here.empty() ? "" : "; and ") + std::string("__fish_seen_subcommand_from ") +
                rest.substr(0, space);
        rest.erase(0, space + 1);
      }
    }
    const std::string rule = "complete -c varnel -n " + FishQuoted(here);
    auto optionRule = [&](const std::string& name, const char* tail) {
      const bool isLong = name.rfind("--", 0) == 0;
      text += rule + (isLong ? " -l " + name.substr(2) : " -s " + name.substr(1)) + tail + "\n";
    };
    for (const auto& flag : command.flags) optionRule(flag, "");
    for (const auto& option : command.valueOptions) optionRule(option, " -r -F");
    if (!command.subcommands.empty()) {
      const std::string none = path.empty() ? here
                                            : here + "; and not __fish_seen_subcommand_from " +
                                                  Joined(SubcommandNames(command));
      for (const auto& sub : command.subcommands) {
        text += "complete -c varnel -n " + FishQuoted(none) + " -a " + sub.name + " -d " +
                FishQuoted(Summary(sub.description)) + "\n";
      }
    }
    if (command.completesId) {
      text += rule + " -a " + FishQuoted(std::string("(") + kIdsCommand + ")") + "\n";
    }
  });
  return text;
}

}  // namespace

const std::vector<std::string>& CompletionShells() {
  static const std::vector<std::string> shells = {"bash", "zsh", "fish"};
  return shells;
}

std::string CompletionScript(const CompletionCommand& root, std::string_view shell) {
  if (shell == "bash") return BashScript(root);
  if (shell == "zsh") return ZshScript(root);
  if (shell == "fish") return FishScript(root);
  throw std::invalid_argument("No completion for that shell");
}

}  // namespace vn::cli
