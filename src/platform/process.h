// The process: its command line and its end.
#ifndef BREVLIN_PLATFORM_PROCESS_H_
#define BREVLIN_PLATFORM_PROCESS_H_

#include <cstdint>
#include <string>

namespace plat {

// The raw command line of the process, beginning with the program's own path.
//
// On Windows it is the line the starting program passed (GetCommandLineA);
// `argc` and `argv` are not used. Elsewhere the process receives only the
// argument vector, and the line is built from it the way a Windows program
// would receive it: see plat::posix::BuildCommandLine.
std::string GetCommandLineA(int argc, const char* const* argv);

// Ends the process with `exit_code`. Objects that are still alive are not
// destroyed: the caller releases what it owns first.
[[noreturn]] void ExitProcess(std::uint32_t exit_code);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_PROCESS_H_
