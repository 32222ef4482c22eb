// Writes registry files (see reg_file.h).
#ifndef BREVLIN_REGSTORE_TOOL_REG_FILE_WRITER_H_
#define BREVLIN_REGSTORE_TOOL_REG_FILE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "regstore_tool/output.h"
#include "regstore_tool/reg_file.h"

namespace regstore_tool {

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

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_REG_FILE_WRITER_H_
