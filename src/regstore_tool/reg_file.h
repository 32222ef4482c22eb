// Registry files as Windows' registry editor and reg.exe write and read
// them: "REGEDIT4" files, whose strings are 8-bit text, and "Windows Registry
// Editor Version 5.00" files, whose strings are UTF-16.
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Example]      a key, created when missing
//   @="the unnamed value"                     REG_SZ
//   "Count"=dword:00000400                    REG_DWORD
//   "Bytes"=hex:0a,ff,10                      REG_BINARY
//   "Path"=hex(2):25,00                       any type by its number (hex)
//   "Old"=-                                   deletes the value
//   [-HKEY_CURRENT_USER\Software\Old]         deletes the key and below it
//
// The reader is reg_file_reader.h, the writer reg_file_writer.h; this header
// holds what both know of the format.
#ifndef BREVLIN_REGSTORE_TOOL_REG_FILE_H_
#define BREVLIN_REGSTORE_TOOL_REG_FILE_H_

#include <cstdint>

#include "platform/registry.h"

namespace regstore_tool {

enum class RegFormat {
  kRegedit4,  // "REGEDIT4", 8-bit text
  kVersion5,  // "Windows Registry Editor Version 5.00", UTF-16LE
};

inline constexpr char kRegedit4Header[] = "REGEDIT4";
inline constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";

// The types whose data is text: written as hex, it is UTF-16LE in a version 5
// file and 8-bit text in a REGEDIT4 file.
inline bool IsRegFileStringType(std::uint32_t type) {
  return type == plat::kRegSz || type == plat::kRegExpandSz || type == plat::kRegMultiSz;
}

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_REG_FILE_H_
