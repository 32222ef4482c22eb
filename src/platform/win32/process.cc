#include "platform/process.h"

#include "platform/win32/registry_calls.h"
#include "platform/win32/windows_wrapper.h"

namespace plat {

std::string GetCommandLineA(int, const char* const*) {
  const char* line = ::GetCommandLineA();
  return line != nullptr ? std::string(line) : std::string();
}

void ExitProcess(std::uint32_t exit_code) {
  // The registry keys kept open for reuse are closed before the end, as the
  // caller closed them.
  win32::EndRegistryUse();
  ::ExitProcess(exit_code);
}

}  // namespace plat
