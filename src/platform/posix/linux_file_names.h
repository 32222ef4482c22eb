// File names on POSIX systems.
#ifndef BREVLIN_PLATFORM_POSIX_LINUX_FILE_NAMES_H_
#define BREVLIN_PLATFORM_POSIX_LINUX_FILE_NAMES_H_

#include <string>

namespace plat {
namespace posix {

// The program writes file names with "\" as the folder separator on every
// system; the file system here wants "/". A name that begins with "\" is
// therefore absolute.
std::string ToPosixPath(const std::string& name);

// Whether the folder that would hold `path` exists (the current folder for a
// name without any "/").
bool ParentFolderExists(const std::string& path);

// The nearest Win32 error code for an errno of a file operation on `path`.
unsigned ErrnoToWin32(int error, const std::string& path);

}  // namespace posix
}  // namespace plat

#endif  // BREVLIN_PLATFORM_POSIX_LINUX_FILE_NAMES_H_
