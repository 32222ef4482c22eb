// Reads registry files (see reg_file.h) line by line as Windows' `reg import`
// and registry editor do: what they import is imported, a line they skip is
// reported to the handler as a problem and reading goes on, and a file they
// refuse as a whole is refused.
//
// The file:
//  - UTF-16LE when it begins with the byte order mark FF FE, else 8-bit text
//    whose bytes are taken as they stand (UTF-8 for the store). A UTF-8 byte
//    order mark is skipped, as the Windows registry editor does. UTF-16
//    without a byte order mark begins with "R" and a NUL: no header.
//  - Lines end with CR LF, LF or a CR alone. A NUL character ends the file:
//    what follows it is not read.
//  - The first line is the header, after spaces or tabs: "REGEDIT4" or
//    "Windows Registry Editor Version 5.00" (either in either encoding),
//    or "REGEDIT" for the Windows 3.1 form, whose lines are
//    `HKEY_CLASSES_ROOT\path = text` and set the key's unnamed value. Any
//    other line beginning with "REGEDIT" is a header of a version no tool
//    reads: the file is accepted and nothing in it is imported. Anything else
//    is not a registry file.
//
// Lines, after spaces and tabs:
//  - "[NAME]" a key, created when missing; text after the last "]" is
//    ignored, empty names between backslashes are dropped, but a path that
//    begins with a backslash after the root key's name is refused.
//    "[-NAME]" deletes the key and everything below it. A key line with a space after "[" or no
//    "]" is skipped and the key named before stays the current one; values
//    after a deletion or before any key belong to no key and are skipped.
//  - `"NAME"=DATA` or `@=DATA` (the unnamed value), spaces and tabs allowed
//    around "=" and at the end. DATA is
//      "text"            REG_SZ; \\ \" \n \r are escapes, another character
//                        after "\" stands for itself, and "\0" is refused
//                        (so are they in names)
//      dword:N           REG_DWORD, 1 to 8 hexadecimal digits ("dword:" in
//                        lower case, as every prefix here)
//      hex:BYTES         REG_BINARY
//      hex(T):BYTES      type T (hexadecimal, up to ffffffff)
//      -                 deletes the value
//    where BYTES are hexadecimal numbers up to ff separated by commas; a
//    line that ends with "\" after a comma goes on in the next line that is
//    not blank or a comment. The data of REG_SZ, REG_EXPAND_SZ and
//    REG_MULTI_SZ written as hex is UTF-16LE in a UTF-16 file and is turned
//    into 8-bit text; a NUL is added when the data does not end with one.
//  - ";" and "#" begin comment lines; ";" also ends the data of a value line.
//  Every other line is skipped.
#ifndef BREVLIN_REGSTORE_TOOL_REG_FILE_READER_H_
#define BREVLIN_REGSTORE_TOOL_REG_FILE_READER_H_

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "regstore_tool/reg_file.h"

namespace regstore_tool {

// What a registry file says, one line (or continued line) at a time.
class RegFileHandler {
 public:
  virtual ~RegFileHandler() = default;
  // A key line: `name` is the key's full name as written. Answers false to
  // stop reading.
  virtual bool Key(const std::string& name, bool remove, int line) = 0;
  // A value line of the key named last; `name` is empty for the unnamed
  // value ("@"). `data` is the data as the store keeps it.
  virtual bool Value(const std::string& name, bool remove, std::uint32_t type,
                     const std::vector<std::uint8_t>& data, int line) = 0;
  // A line that is skipped, or (at line 1, when ReadRegFile answers false)
  // why the file is not a registry file.
  virtual void Problem(int line, const std::string& message) = 0;
};

// Reads a registry file from `in`. Answers false when it is not one (the
// handler is told why, at line 1) or the handler stopped.
bool ReadRegFile(std::istream& in, RegFileHandler* handler);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_REG_FILE_READER_H_
