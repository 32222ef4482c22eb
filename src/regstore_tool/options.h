// The command line of regstore, read as reg.exe reads its own: a command
// name, then operands and options in any order. Options begin with "/" or
// "-" and their names are taken in any letter case (/S, /s and -s are one
// option); an option that takes a value takes the next argument. An argument
// that names no option of the command is an operand, so that file names
// beginning with "/" need nothing special; "--" ends the options.
#ifndef BREVLIN_REGSTORE_TOOL_OPTIONS_H_
#define BREVLIN_REGSTORE_TOOL_OPTIONS_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace regstore_tool {

struct OptionRule {
  const char* name;  // lower case, without "/" or "-"
  bool takes_value;
};

struct CommandLine {
  std::vector<std::string> operands;
  // By name as in OptionRule; "" for an option without a value.
  std::map<std::string, std::string> options;
  bool help = false;  // /?, -?, -h, --help
  bool json = false;  // --json (or /json)

  bool Has(const char* name) const { return options.count(name) != 0; }
  std::string Value(const char* name) const {
    auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
  }
};

// ASCII letters in lower case.
std::string LowerAscii(const std::string& text);

// Reads `args` from `first` on. Answers an empty string, or what is wrong
// (an option given twice, a value missing, an unknown "-" option).
std::string ParseCommandLine(const std::vector<std::string>& args, std::size_t first,
                             const std::vector<OptionRule>& rules, CommandLine* line);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_OPTIONS_H_
