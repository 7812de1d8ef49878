#include "apps/varnel/completion_script.h"

#include <functional>
#include <stdexcept>

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

// The walk over the words before the cursor; first is the index of the word
// after `varnel`, end that of the cursor's word, word(i) reads one.
std::string WalkLoop(const std::string& first, const std::string& end, const std::string& word,
                     const std::string& onValueAtCursor) {
  return "  for ((_vn_i = " + first + "; _vn_i < " + end + "; _vn_i++)); do\n"
         "    _vn_word=" + word + "\n"
         "    if [[ \" $_vn_values \" == *\" $_vn_word \"* ]]; then\n"
         "      if ((_vn_i + 1 == " + end + ")); then " + onValueAtCursor + "; return 0; fi\n"
         "      ((_vn_i++))\n"
         "      continue\n"
         "    fi\n"
         "    [[ $_vn_word == -* ]] && continue\n"
         "    if ((_vn_arguments == 0)) && [[ \" $_vn_subs \" == *\" $_vn_word \"* ]]; then\n"
         "      _vn_path=${_vn_path:+$_vn_path }$_vn_word\n"
         "      _varnel_node \"$_vn_path\"\n"
         "    else\n"
         "      ((_vn_arguments++))\n"
         "    fi\n"
         "  done\n";
}

std::string BashScript(const CompletionCommand& root) {
  return "# bash completion for varnel, made by `varnel completion bash`.\n" +
         NodeFunction(root) +
         "_varnel() {\n"
         "  local _vn_subs _vn_flags _vn_values _vn_id _vn_path='' _vn_word _vn_i\n"
         "  local -a _vn_described\n"
         "  local -i _vn_arguments=0\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]}\n"
         "  COMPREPLY=()\n"
         "  _varnel_node ''\n" +
         WalkLoop("1", "COMP_CWORD", "${COMP_WORDS[_vn_i]}", "compopt -o default 2>/dev/null") +
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$_vn_flags $_vn_values\" -- \"$cur\"))\n"
         "  elif [[ -n $_vn_subs ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$_vn_subs\" -- \"$cur\"))\n"
         "  elif ((_vn_id && _vn_arguments == 0)); then\n"
         "    COMPREPLY=($(compgen -W \"$(" + kIdsCommand + ")\" -- \"$cur\"))\n"
         "  else\n"
         "    compopt -o default 2>/dev/null\n"
         "  fi\n"
         "  return 0\n"
         "}\n"
         "complete -F _varnel varnel\n";
}

std::string ZshScript(const CompletionCommand& root) {
  return "#compdef varnel\n"
         "# zsh completion for varnel, made by `varnel completion zsh`.\n" +
         NodeFunction(root) +
         "_varnel() {\n"
         "  local _vn_subs _vn_flags _vn_values _vn_id _vn_path='' _vn_word\n"
         "  local -a _vn_described\n"
         "  local -i _vn_arguments=0 _vn_i\n"
         "  _varnel_node ''\n" +
         WalkLoop("2", "CURRENT", "${words[_vn_i]}", "_files") +
         "  if [[ $PREFIX == -* ]]; then\n"
         "    compadd -- ${=_vn_flags} ${=_vn_values}\n"
         "  elif [[ -n $_vn_subs ]]; then\n"
         "    _describe -t commands 'varnel command' _vn_described\n"
         "  elif ((_vn_id && _vn_arguments == 0)); then\n"
         "    compadd -- ${(f)\"$(" + kIdsCommand + ")\"}\n"
         "  else\n"
         "    _files\n"
         "  fi\n"
         "}\n"
         "if [[ ${zsh_eval_context[-1]} == loadautofunc ]]; then\n"
         "  _varnel \"$@\"\n"
         "else\n"
         "  compdef _varnel varnel\n"
         "fi\n";
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
      const std::string none =
          path.empty() ? here
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
