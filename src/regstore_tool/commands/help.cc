// regstore help [COMMAND], and what `regstore COMMAND /?` shows.
#include "regstore_tool/commands/commands.h"

namespace regstore_tool {

namespace {

const char kOverview[] =
    "regstore: shows and changes the registry store, in the manner of reg.exe.\n"
    "\n"
    "Usage: regstore COMMAND [ARGUMENTS] [--json]\n"
    "\n";

const char kOverviewEnd[] =
    "\n"
    "KEY begins with a root key: HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER (HKCU),\n"
    "HKEY_LOCAL_MACHINE (HKLM), HKEY_USERS (HKU) or HKEY_CURRENT_CONFIG (HKCC).\n"
    "Commands and options may be written in any letter case; options begin with\n"
    "/ or -. `regstore COMMAND /?` describes a command.\n"
    "The store is the file named by REGSTORE, else $XDG_DATA_HOME/regstore/registry.db\n"
    "(~/.local/share/regstore/registry.db); only add, copy and import create it.\n"
    "Exit status: 0 success, 1 failure (missing key or value, store or file\n"
    "unusable, confirmation refused), 2 wrong command line (bad root key too).\n";

std::string OverviewText() {
  std::string text = kOverview;
  text += "Commands:\n";
  for (const CommandSpec* command : AllCommands()) {
    std::string line = "  ";
    line += command->name;
    line.resize(13, ' ');
    text += line + command->summary + "\n";
  }
  return text + kOverviewEnd;
}

int RunHelp(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() > 1)
    return context.Usage("help", "help takes at most one command name");
  if (line.operands.empty()) {
    context.out() << OverviewText();
  } else {
    const CommandSpec* command = FindCommand(LowerAscii(line.operands[0]));
    if (!command)
      return context.Usage("", "unknown command '" + line.operands[0] + "'");
    context.out() << HelpText(*command);
  }
  return context.OutputStatus(kSuccess);
}

}  // namespace

extern const CommandSpec kHelpCommand = {
    "help", StoreUse::kNone, "describe the commands", "help [COMMAND]", "", {}, {}, "", RunHelp,
};

}  // namespace regstore_tool
