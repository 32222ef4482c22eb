// regstore, the command that shows and prepares what is in the registry
// store, in the manner of Windows' reg.exe:
//
//   regstore query KEY [/s]       the key's values (and its subkeys' with /s)
//   regstore export KEY [FILE]    KEY and everything below it as a REGEDIT4 file
//   regstore delete KEY           deletes KEY and everything below it
//   regstore protect KEY          refuses write access to KEY and below
//   regstore unprotect KEY
//   regstore lock KEY             KEY opens for writing but refuses value writes
//   regstore unlock KEY
//
// KEY begins with a root key's name (HKEY_CURRENT_USER or HKCU, and so on).
// The store is the one the environment names (REGSTORE, XDG_DATA_HOME).
#ifndef BREVLIN_REGSTORE_TOOL_COMMANDS_H_
#define BREVLIN_REGSTORE_TOOL_COMMANDS_H_

#include <ostream>
#include <string>
#include <vector>

#include "regstore/regstore.h"

namespace regstore_tool {

// Runs the command with its arguments (the program name left out), writing
// results to `out` and messages to `err`. Answers the exit code: 0 on
// success, 1 when the command failed, 2 for a wrong command line.
int RunRegstore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// One value as a line of a REGEDIT4 file, without the line end.
std::string RegeditValueLine(const regstore::StoreValue& value);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_COMMANDS_H_
