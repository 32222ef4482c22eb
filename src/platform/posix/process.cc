#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/posix/argv_command_line.h"

namespace plat {

std::string GetCommandLineA(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != nullptr)
      arguments.emplace_back(argv[i]);
  }
  return posix::BuildCommandLine(arguments);
}

void ExitProcess(std::uint32_t exit_code) {
  std::fflush(nullptr);
  std::exit(static_cast<int>(exit_code));
}

}  // namespace plat
