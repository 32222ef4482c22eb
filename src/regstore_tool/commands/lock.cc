// regstore lock / unlock KEY: whether the values of a key may change while
// the key itself still opens for writing.
#include "regstore_tool/command.h"

namespace regstore_tool {

namespace {

int RunLock(CommandContext& context, const CommandLine& line) {
  return ChangeFlagsCommand(context, "lock", line, kKeyValuesLocked, 0);
}

int RunUnlock(CommandContext& context, const CommandLine& line) {
  return ChangeFlagsCommand(context, "unlock", line, 0, kKeyValuesLocked);
}

}  // namespace

extern const CommandSpec kLockCommand = {
    "lock",
    StoreUse::kWrites,
    "let a key open for writing but refuse changes to its values",
    "lock KEY",
    "",
    {},
    {},
    "",
    RunLock,
};

extern const CommandSpec kUnlockCommand = {
    "unlock", StoreUse::kWrites, "undo lock", "unlock KEY", "", {}, {}, "", RunUnlock,
};

}  // namespace regstore_tool
