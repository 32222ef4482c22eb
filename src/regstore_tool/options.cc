#include "regstore_tool/options.h"

namespace regstore_tool {

std::string LowerAscii(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string ParseCommandLine(const std::vector<std::string>& args, std::size_t first,
                             const std::vector<OptionRule>& rules, CommandLine* line) {
  bool options_ended = false;
  for (std::size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool option_like = !options_ended && arg.size() > 1 && (arg[0] == '/' || arg[0] == '-');
    if (!option_like) {
      line->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const std::string lower = LowerAscii(arg);
    if (lower == "/?" || lower == "-?" || lower == "-h" || lower == "--help") {
      line->help = true;
      continue;
    }
    if (lower == "--json" || lower == "/json") {
      line->json = true;
      continue;
    }
    const std::string name = lower.substr(1);
    const OptionRule* rule = nullptr;
    for (const OptionRule& candidate : rules) {
      if (name == candidate.name)
        rule = &candidate;
    }
    if (!rule) {
      // A "/" argument that names no option may be a file name.
      if (arg[0] == '/') {
        line->operands.push_back(arg);
        continue;
      }
      return "unknown option '" + arg + "'";
    }
    if (line->options.count(rule->name))
      return "the option /" + std::string(rule->name) + " is given twice";
    std::string value;
    if (rule->takes_value) {
      if (i + 1 >= args.size())
        return "the option /" + std::string(rule->name) + " needs a value";
      value = args[++i];
    }
    line->options[rule->name] = value;
  }
  return std::string();
}

}  // namespace regstore_tool
