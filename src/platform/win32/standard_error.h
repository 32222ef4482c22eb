// Writing to the process's standard error on Windows, where a GUI program
// has no console of its own but may have been given a standard error handle
// (a file, a pipe, or under Wine the terminal it was started from).
#ifndef BREVLIN_PLATFORM_WIN32_STANDARD_ERROR_H_
#define BREVLIN_PLATFORM_WIN32_STANDARD_ERROR_H_

#include <string>

namespace plat {
namespace win32 {

// Writes `text` as it stands to the standard error handle; does nothing when
// the process has none.
void WriteStandardError(const std::string& text);

}  // namespace win32
}  // namespace plat

#endif  // BREVLIN_PLATFORM_WIN32_STANDARD_ERROR_H_
