// Reads registry files (see reg_file.h).
//
// Reading accepts both versions, as 8-bit text, UTF-8 (with or without a
// byte order mark) or UTF-16LE (with a byte order mark), lines ended by CR LF
// or LF, comments (";" to the end of a line), hex data continued on the next
// line after a "\", and the escapes \\, \", \n, \r and \0 in quoted strings.
// The data of string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) written as
// hex is UTF-16LE in a version 5 file and is turned into 8-bit text; in a
// REGEDIT4 file it is taken as it stands.
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
  // A line that cannot be read; reading goes on with the next one.
  virtual void Problem(int line, const std::string& message) = 0;
};

// Reads a registry file from `in`. Answers false when it is not one (no
// header line: the handler is told why, at line 1) or the handler stopped.
bool ReadRegFile(std::istream& in, RegFileHandler* handler);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_REG_FILE_READER_H_
