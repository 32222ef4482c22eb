// The wait at the end of an import for the handshake value to read back.
#ifndef BREVLIN_IMPORT_HANDSHAKE_H_
#define BREVLIN_IMPORT_HANDSHAKE_H_

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/registry.h"

// The handshake that tells other programs whether an import is running: the
// REG_DWORD value "Loading" in the key Software\Mardovan below
// HKEY_CURRENT_USER is 0 while it runs and is removed once the whole file is
// in.
constexpr plat::RegKey kHandshakeRoot = plat::kHkeyCurrentUser;
constexpr char kHandshakeKey[] = "Software\\Mardovan";
constexpr char kHandshakeValue[] = "Loading";

// Calls `read` until it answers 1, committing what is pending and sleeping 1
// millisecond between calls, and
// answers true then. Answers false once `limit` has passed with other answers:
// another writer has changed the value and may never change it back. An
// exception from `read` passes on.
bool AwaitHandshakeValue(const std::function<std::int32_t()>& read,
                         std::chrono::milliseconds limit);

#endif  // BREVLIN_IMPORT_HANDSHAKE_H_
