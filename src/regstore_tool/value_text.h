// Value types and data as regstore shows them (reg.exe's text, JSON) and
// as `regstore add` takes them.
#ifndef BREVLIN_REGSTORE_TOOL_VALUE_TEXT_H_
#define BREVLIN_REGSTORE_TOOL_VALUE_TEXT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "regstore_tool/store_access.h"

namespace regstore_tool {

// "REG_SZ" and so on; "0x..." for a type without a name.
std::string TypeName(std::uint32_t type);
// What `add /t` makes of a type's name (in any letter case): a type it
// sets, a type with a name that it does not set (REG_LINK and the resource
// types), or no type.
enum class TypeNameUse { kAdded, kNotAdded, kUnknown };
TypeNameUse ParseTypeName(const std::string& name, std::uint32_t* type);
// The data as reg.exe's query shows it (control characters not escaped).
std::string QueryData(const ValueView& value);
// The data as a JSON value: a string, an array of strings, a number, or
// hexadecimal digits in a string.
std::string JsonData(const ValueView& value);
// The data of `add /d` for a type, with the REG_MULTI_SZ separator; answers
// what is wrong with the text, or "".
std::string ParseAddData(std::uint32_t type, const std::string& text, const std::string& separator,
                         std::vector<std::uint8_t>* data);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_VALUE_TEXT_H_
