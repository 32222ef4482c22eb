#include "regstore_tool/commands/commands.h"

namespace regstore_tool {

// Defined in the command files of this folder.
extern const CommandSpec kQueryCommand;
extern const CommandSpec kAddCommand;
extern const CommandSpec kDeleteCommand;
extern const CommandSpec kCopyCommand;
extern const CommandSpec kImportCommand;
extern const CommandSpec kExportCommand;
extern const CommandSpec kProtectCommand;
extern const CommandSpec kUnprotectCommand;
extern const CommandSpec kLockCommand;
extern const CommandSpec kUnlockCommand;
extern const CommandSpec kCheckCommand;
extern const CommandSpec kHelpCommand;

const std::vector<const CommandSpec*>& AllCommands() {
  static const std::vector<const CommandSpec*> kCommands = {
      &kQueryCommand,  &kAddCommand,    &kDeleteCommand,  &kCopyCommand,
      &kImportCommand, &kExportCommand, &kProtectCommand, &kUnprotectCommand,
      &kLockCommand,   &kUnlockCommand, &kCheckCommand,   &kHelpCommand,
  };
  return kCommands;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec* command : AllCommands()) {
    if (name == command->name)
      return command;
  }
  return nullptr;
}

}  // namespace regstore_tool
