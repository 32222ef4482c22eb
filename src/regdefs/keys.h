// Key handles, the predefined root key handles, access rights, and the
// options and dispositions of key creation.
#ifndef BREVLIN_REGDEFS_KEYS_H_
#define BREVLIN_REGDEFS_KEYS_H_

#include <cstdint>

namespace regdefs {

// A registry key handle. Null (0) means no key. The root keys are the
// predefined handles; they are never opened or closed.
using RegKey = std::uintptr_t;

constexpr RegKey kNullKey = 0;

// Predefined handles are 32-bit values, sign-extended to pointer width as
// 64-bit Windows does.
constexpr RegKey PredefinedKey(std::uint32_t value) {
  return static_cast<RegKey>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}

constexpr RegKey kHkeyClassesRoot = PredefinedKey(0x80000000u);
constexpr RegKey kHkeyCurrentUser = PredefinedKey(0x80000001u);
constexpr RegKey kHkeyLocalMachine = PredefinedKey(0x80000002u);
constexpr RegKey kHkeyUsers = PredefinedKey(0x80000003u);
constexpr RegKey kHkeyCurrentConfig = PredefinedKey(0x80000005u);

// Access rights.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kKeyNotify = 0x0010;
constexpr std::uint32_t kKeyCreateLink = 0x0020;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyWrite = 0x20006;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
// Which view of the registry a 32-bit or 64-bit program asks for; the store
// has one view and ignores them.
constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
constexpr std::uint32_t kKeyWow64_32Key = 0x0200;
constexpr std::uint32_t kKeyWow64Res = kKeyWow64_64Key | kKeyWow64_32Key;
// Standard and generic rights, as they may appear in a key's access mask.
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kWriteDac = 0x00040000;
constexpr std::uint32_t kWriteOwner = 0x00080000;
constexpr std::uint32_t kMaximumAllowed = 0x02000000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;

// Options and dispositions of key creation (RegCreateKeyExA).
constexpr std::uint32_t kRegOptionNonVolatile = 0;
constexpr std::uint32_t kRegCreatedNewKey = 1;
constexpr std::uint32_t kRegOpenedExistingKey = 2;

}  // namespace regdefs

#endif  // BREVLIN_REGDEFS_KEYS_H_
