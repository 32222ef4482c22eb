#include "regstore_tool/cli.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "regstore_tool/command.h"
#include "regstore_tool/commands/commands.h"
#include "regstore_tool/options.h"

namespace regstore_tool {

bool TerminalConsole::Interactive() {
  return ::isatty(0) == 1;
}

bool TerminalConsole::Confirm(const std::string& question) {
  std::fputs(question.c_str(), stderr);
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer))
    return false;
  answer = LowerAscii(answer);
  return answer == "y" || answer == "yes";
}

std::istream& TerminalConsole::Input() {
  return std::cin;
}

int RunRegstore(const std::vector<std::string>& args, Output& out, Output& err, Console& console) {
  bool json = false;
  for (const std::string& arg : args) {
    if (LowerAscii(arg) == "--json" || LowerAscii(arg) == "/json")
      json = true;
  }
  std::string name = args.empty() ? std::string() : LowerAscii(args[0]);
  if (name == "--help" || name == "-h" || name == "/?" || name == "-?")
    name = "help";
  const CommandSpec* command = FindCommand(name);
  const bool writes = command && command->store == StoreUse::kWrites;
  CommandContext context(out, err, console, json, writes);
  if (args.empty())
    return context.Usage("", "no command given");
  if (!command)
    return context.Usage("", "unknown command '" + args[0] + "'");
  CommandLine line;
  const std::string problem = ParseCommandLine(args, 1, OptionRules(*command), &line);
  if (!problem.empty())
    return context.Usage(command->name, problem);
  // reg.exe takes /? alone.
  if (line.help && (!line.operands.empty() || !line.options.empty()))
    return context.Usage(command->name, "/? takes no other arguments");
  if (line.help) {
    out << HelpText(*command);
    return context.OutputStatus(kSuccess);
  }
  if (!writes)
    return command->run(context, line);
  // The command's changes are stored whole (CommandContext::Done) or not at
  // all.
  HoldChanges();
  const int code = command->run(context, line);
  DiscardChanges();
  return code;
}

}  // namespace regstore_tool
