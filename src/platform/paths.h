// File names: expanding them and finding out what they name.
#ifndef BREVLIN_PLATFORM_PATHS_H_
#define BREVLIN_PLATFORM_PATHS_H_

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace plat {

// File attributes.
constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeDevice = 0x40;
constexpr std::uint32_t kFileAttributeNormal = 0x80;

// File names use "\" as the folder separator on every system. Elsewhere than
// on Windows "/" is accepted as well, a name that begins with "\" is
// absolute, and the names answered here use "\".

// Expands `name` to a full path: a relative name is taken relative to the
// current folder, and "." and ".." elements are resolved. The name need not
// exist. Works for paths of any length.
Status GetFullPathNameA(const std::string& name, std::string* full_path);

// The attributes of the file or folder `name`. A name that leads to something
// other than a file or a folder carries kFileAttributeDevice: on Windows a
// device name such as NUL, CON or COM1, or a pipe; elsewhere a FIFO, a socket
// or a device.
Status GetFileAttributesA(const std::string& name, std::uint32_t* attributes);

// Looks `name` up in its folder as FindFirstFileA does, closes the search
// again, and answers the attributes of the entry found. This finds files
// whose attributes cannot be read directly, such as files that another
// process holds open without sharing.
Status FindFirstFileA(const std::string& name, std::uint32_t* attributes);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_PATHS_H_
