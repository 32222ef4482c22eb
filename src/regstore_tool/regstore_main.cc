// regstore: shows and changes what is in the registry store.
#include <string>
#include <vector>

#include "regstore_tool/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  regstore_tool::FdOutput out(1);
  regstore_tool::FdOutput err(2);
  regstore_tool::TerminalConsole console;
  const int code = regstore_tool::RunRegstore(args, out, err, console);
  // What is still buffered must reach its file too, or the run failed.
  if (!out.Flush() && code == 0)
    return 1;
  return code;
}
