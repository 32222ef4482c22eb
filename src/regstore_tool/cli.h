// regstore, the command that shows and changes what is in the registry
// store, in the manner of Windows' reg.exe. `regstore help` and
// `regstore COMMAND /?` describe each command; the README says more.
//
// Exit status: 0 on success; 1 when the command failed (a key or value is
// missing, the store is missing or cannot be used, a file cannot be read or
// written, a confirmation was refused); 2 for a wrong command line (an
// unknown command or option, a key that begins with no root key's name, data
// that does not fit its type).
#ifndef BREVLIN_REGSTORE_TOOL_CLI_H_
#define BREVLIN_REGSTORE_TOOL_CLI_H_

#include <istream>
#include <string>
#include <vector>

#include "regstore_tool/output.h"

namespace regstore_tool {

// The user at the other end: asked before a value, a key or a file is
// overwritten or deleted without /f (or /y).
class Console {
 public:
  virtual ~Console() = default;
  // Whether there is someone to ask (standard input is a terminal).
  virtual bool Interactive() = 0;
  // Shows `question` and answers whether the reply was yes.
  virtual bool Confirm(const std::string& question) = 0;
  // Standard input, for `import -`.
  virtual std::istream& Input() = 0;
};

// The console of a real run: standard input and standard error.
class TerminalConsole : public Console {
 public:
  bool Interactive() override;
  bool Confirm(const std::string& question) override;
  std::istream& Input() override;
};

// Runs the command with its arguments (the program name left out), writing
// results to `out` and messages to `err`. Answers the exit status.
int RunRegstore(const std::vector<std::string>& args, Output& out, Output& err, Console& console);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_CLI_H_
