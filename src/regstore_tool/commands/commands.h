// The table of regstore's commands, in the order `regstore help` lists
// them. Each command is defined, with its options and help, in its own file
// in this folder; adding one is that file and its line in commands.cc.
#ifndef BREVLIN_REGSTORE_TOOL_COMMANDS_COMMANDS_H_
#define BREVLIN_REGSTORE_TOOL_COMMANDS_COMMANDS_H_

#include <string>
#include <vector>

#include "regstore_tool/command.h"

namespace regstore_tool {

const std::vector<const CommandSpec*>& AllCommands();
// The command named `name` (lower case), or null.
const CommandSpec* FindCommand(const std::string& name);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_COMMANDS_COMMANDS_H_
