// The help texts of regstore: `regstore help`, `regstore COMMAND /?`.
#ifndef BREVLIN_REGSTORE_TOOL_HELP_H_
#define BREVLIN_REGSTORE_TOOL_HELP_H_

#include <string>

namespace regstore_tool {

struct CommandHelp {
  const char* name;
  const char* summary;
  const char* text;
};

// The command's help, or null for a name that is no command (lower case).
const CommandHelp* FindHelp(const std::string& name);
// What `regstore help` shows: the commands, keys, the store, exit status.
std::string OverviewText();

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_HELP_H_
