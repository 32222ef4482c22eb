// The registry's value types: their numbers and their names, in one table.
#ifndef BREVLIN_REGDEFS_VALUE_TYPES_H_
#define BREVLIN_REGDEFS_VALUE_TYPES_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace regdefs {

constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegDwordBigEndian = 5;
constexpr std::uint32_t kRegLink = 6;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegResourceList = 8;
constexpr std::uint32_t kRegFullResourceDescriptor = 9;
constexpr std::uint32_t kRegResourceRequirementsList = 10;
constexpr std::uint32_t kRegQword = 11;

struct ValueTypeEntry {
  std::uint32_t type;
  std::string_view name;  // "REG_SZ"
};

// Every value type that has a name, in the order of their numbers. A value
// may still carry any other 32-bit type number; such a type has no name.
inline constexpr ValueTypeEntry kValueTypes[] = {
    {kRegNone, "REG_NONE"},
    {kRegSz, "REG_SZ"},
    {kRegExpandSz, "REG_EXPAND_SZ"},
    {kRegBinary, "REG_BINARY"},
    {kRegDword, "REG_DWORD"},
    {kRegDwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {kRegLink, "REG_LINK"},
    {kRegMultiSz, "REG_MULTI_SZ"},
    {kRegResourceList, "REG_RESOURCE_LIST"},
    {kRegFullResourceDescriptor, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {kRegResourceRequirementsList, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {kRegQword, "REG_QWORD"},
};

inline constexpr std::size_t kValueTypeCount = sizeof(kValueTypes) / sizeof(kValueTypes[0]);

// The name of the type `type`, "REG_SZ" and so on; empty when it has none.
constexpr std::string_view ValueTypeName(std::uint32_t type) {
  for (const ValueTypeEntry& entry : kValueTypes) {
    if (entry.type == type)
      return entry.name;
  }
  return {};
}

// The type whose name is exactly `name` (upper case, as the table writes
// it); null when none is. Callers that take names in any case fold them
// first.
constexpr const ValueTypeEntry* ValueTypeByName(std::string_view name) {
  for (const ValueTypeEntry& entry : kValueTypes) {
    if (entry.name == name)
      return &entry;
  }
  return nullptr;
}

}  // namespace regdefs

#endif  // BREVLIN_REGDEFS_VALUE_TYPES_H_
