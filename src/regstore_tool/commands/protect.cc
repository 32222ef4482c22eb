// regstore protect / unprotect KEY: whether programs may open a key, or any
// key below it, for writing.
#include "regstore_tool/command.h"

namespace regstore_tool {

namespace {

int RunProtect(CommandContext& context, const CommandLine& line) {
  return ChangeFlagsCommand(context, "protect", line, kKeyProtected, 0);
}

int RunUnprotect(CommandContext& context, const CommandLine& line) {
  return ChangeFlagsCommand(context, "unprotect", line, 0, kKeyProtected);
}

}  // namespace

extern const CommandSpec kProtectCommand = {
    "protect",
    StoreUse::kWrites,
    "refuse write access to a key and everything below it",
    "protect KEY",
    "A protected key cannot be opened for writing by programs, nor can any key\n"
    "below it; regstore delete refuses it too.\n",
    {},
    {},
    "",
    RunProtect,
};

extern const CommandSpec kUnprotectCommand = {
    "unprotect", StoreUse::kWrites, "undo protect", "unprotect KEY", "", {}, {}, "", RunUnprotect,
};

}  // namespace regstore_tool
