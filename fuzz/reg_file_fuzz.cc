// Registry files of arbitrary bytes: reading never fails in any other way
// than reporting a line, and every value read, written again as REGEDIT4 and
// read back, comes out as it went in (names, types and data byte for byte).
// Written as version 5 it must be readable again too.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "regstore_tool/output.h"
#include "regstore_tool/reg_file_reader.h"
#include "regstore_tool/reg_file_writer.h"

namespace {

using fuzzing::Check;
using regstore_tool::RegFormat;

struct Value {
  std::string name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

class Collector : public regstore_tool::RegFileHandler {
 public:
  bool Key(const std::string& name, bool remove, int) override {
    keys.push_back(remove ? "-" + name : name);
    return true;
  }
  bool Value(const std::string& name, bool remove, std::uint32_t type,
             const std::vector<std::uint8_t>& data, int) override {
    if (!remove)
      values.push_back({name, type, data});
    return true;
  }
  void Problem(int line, const std::string& message) override {
    Check(line >= 0, "a problem names a line");
    Check(!message.empty(), "a problem says what is wrong");
  }
  std::vector<std::string> keys;
  std::vector<::Value> values;
};

std::string Write(const std::vector<Value>& values, RegFormat format) {
  regstore_tool::StringOutput out;
  regstore_tool::RegFileWriter writer(&out, format);
  writer.Header();
  writer.Key("HKEY_CURRENT_USER\\Fuzz");
  for (const Value& value : values)
    writer.Value(value.name, value.type, value.data.data(), value.data.size());
  writer.Finish();
  return out.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  Collector first;
  regstore_tool::ReadRegFile(in, &first);

  std::istringstream again(Write(first.values, RegFormat::kRegedit4));
  Collector second;
  Check(regstore_tool::ReadRegFile(again, &second), "a written REGEDIT4 file reads");
  Check(second.values.size() == first.values.size(), "every value written reads back");
  for (std::size_t i = 0; i < first.values.size(); ++i) {
    Check(second.values[i].name == first.values[i].name, "names read back");
    Check(second.values[i].type == first.values[i].type, "types read back");
    Check(second.values[i].data == first.values[i].data, "data reads back");
  }

  std::istringstream unicode(Write(first.values, RegFormat::kVersion5));
  Collector third;
  Check(regstore_tool::ReadRegFile(unicode, &third), "a written version 5 file reads");
  Check(third.values.size() == first.values.size(), "every value written as version 5 reads back");
  return 0;
}
