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
// Reading accepts both versions, as 8-bit text, UTF-8 (with or without a
// byte order mark) or UTF-16LE (with a byte order mark), lines ended by CR LF
// or LF, comments (";" to the end of a line), hex data continued on the next
// line after a "\", and the escapes \\, \", \n, \r and \0 in quoted strings.
// The data of string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) written as
// hex is UTF-16LE in a version 5 file and is turned into 8-bit text; in a
// REGEDIT4 file it is taken as it stands.
#ifndef BREVLIN_REGSTORE_TOOL_REG_FILE_H_
#define BREVLIN_REGSTORE_TOOL_REG_FILE_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "regstore_tool/output.h"

namespace regstore_tool {

enum class RegFormat {
  kRegedit4,  // "REGEDIT4", 8-bit text
  kVersion5,  // "Windows Registry Editor Version 5.00", UTF-16LE
};

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
  // A line that cannot be read; reading goes on with the next one.
  virtual void Problem(int line, const std::string& message) = 0;
};

// Reads a registry file from `in`. Answers false when it is not one (no
// header line: the handler is told why, at line 1) or the handler stopped.
bool ReadRegFile(std::istream& in, RegFileHandler* handler);

// Writes registry files, key by key, as the Windows registry editor does:
// CR LF line ends, a blank line after each key, hex data wrapped at 80
// columns. A version 5 file is UTF-16LE with a byte order mark.
class RegFileWriter {
 public:
  RegFileWriter(Output* out, RegFormat format);
  void Header();
  void Key(const std::string& full_name);
  void Value(std::string_view name, std::uint32_t type, const std::uint8_t* data, std::size_t size);
  // Ends the last key.
  void Finish();

 private:
  void Emit(const std::string& text);

  Output* out_;
  RegFormat format_;
  bool in_key_ = false;
  std::string line_;
  std::string encoded_;
};

// Appends one value as the lines of a registry file, without the last line
// end.
void AppendRegFileValue(std::string_view name, std::uint32_t type, const std::uint8_t* data,
                        std::size_t size, RegFormat format, std::string* line);
// The same as a string of its own.
std::string RegFileValueText(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                             std::size_t size, RegFormat format);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_REG_FILE_H_
