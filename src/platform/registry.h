// The seven registry functions the program uses.
//
// On Windows they are the functions of advapi32. Elsewhere they are answered
// by the registry store embedded in the program, which behaves like the
// Windows registry wherever a caller of these functions can tell.
#ifndef BREVLIN_PLATFORM_REGISTRY_H_
#define BREVLIN_PLATFORM_REGISTRY_H_

#include <cstdint>

#include "platform/status.h"
#include "regdefs/keys.h"
#include "regdefs/value_types.h"

namespace plat {

// Key handles, root keys, access rights, value types and the options of key
// creation are the registry's vocabulary (regdefs), which plat's names
// forward to.
using namespace regdefs;

// Names, paths and texts are 8-bit strings, NUL-terminated, as the ANSI forms
// of the Windows functions take them.
Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t options, std::uint32_t access,
                     RegKey* result);
Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t reserved,
                       const char* key_class, std::uint32_t options, std::uint32_t access,
                       const void* security_attributes, RegKey* result, std::uint32_t* disposition);
Status RegSetValueExA(RegKey key, const char* value_name, std::uint32_t reserved,
                      std::uint32_t type, const std::uint8_t* data, std::uint32_t size);
Status RegQueryValueExA(RegKey key, const char* value_name, std::uint32_t* reserved,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size);
Status RegDeleteValueA(RegKey key, const char* value_name);
Status RegFlushKey(RegKey key);
Status RegCloseKey(RegKey key);

// Commits the changes that this process has made and the registry still holds
// back, so that other programs see them; called before anything that may
// wait (a read of a file, a message). It does not force them to disk
// (RegFlushKey does). Nothing on Windows, whose registry writes by itself.
void FlushPendingWrites();

// Commits as FlushPendingWrites does and forces every change this process
// committed to the disk, so that a power cut cannot take it; a program calls
// it before its exit status says that the changes were made. Nothing on
// Windows, whose registry keeps its own changes safe.
Status FlushWritesToDisk();

// Whether the registry as a whole can still take writes, asked after a call
// above failed, to tell a key that refuses the user from a registry that
// refuses everyone. On Windows always ERROR_SUCCESS: the system's registry
// answers for each key. Elsewhere the state of the store: ERROR_BUSY when
// other programs held it past the run's wait bound, ERROR_DISK_FULL when a
// write found its disk full, ERROR_WRITE_PROTECT when the store is read-only,
// ERROR_BADDB when the file is not a store of this program's (or was damaged
// or replaced under the running program), and ERROR_ACCESS_DENIED when it
// cannot be opened or created.
Status RegistryState();

}  // namespace plat

#endif  // BREVLIN_PLATFORM_REGISTRY_H_
