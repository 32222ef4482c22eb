#include "regstore_tool/reg_file_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "regstore_tool/reg_file_writer.h"
#include "regstore_tool/text.h"

namespace regstore_tool {
namespace {

using namespace std::string_literals;

// What a file said, one line of text per event.
class Recorder : public RegFileHandler {
 public:
  bool Key(const std::string& name, bool remove, int line) override {
    events.push_back(std::to_string(line) + (remove ? " delete key " : " key ") + name);
    return true;
  }
  bool Value(const std::string& name, bool remove, std::uint32_t type,
             const std::vector<std::uint8_t>& data, int line) override {
    std::string event = std::to_string(line) + " value [" + name + "]";
    if (remove)
      event += " delete";
    else
      event += " " + std::to_string(type) + " " + HexDigits(data.data(), data.size(), false);
    events.push_back(event);
    values.push_back({name, type, data});
    return true;
  }
  void Problem(int line, const std::string& message) override {
    events.push_back(std::to_string(line) + " problem: " + message);
  }

  struct Seen {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  std::vector<std::string> events;
  std::vector<Seen> values;
};

std::vector<std::string> Read(const std::string& file, bool* ok = nullptr) {
  std::istringstream in(file);
  Recorder recorder;
  const bool read = ReadRegFile(in, &recorder);
  if (ok)
    *ok = read;
  return recorder.events;
}

std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  AppendUtf16Le(text, &wide);
  return wide;
}

// The events of a REGEDIT4 file that holds `lines` in one key, without the
// key's own event.
std::vector<std::string> InKey(const std::string& lines) {
  std::vector<std::string> events = Read("REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n" + lines);
  events.erase(events.begin());
  return events;
}

struct LineCase {
  const char* lines;
  std::vector<std::string> events;
};

void ExpectEvents(const std::vector<LineCase>& cases) {
  for (const LineCase& c : cases)
    EXPECT_EQ(InKey(c.lines), c.events) << c.lines;
}

TEST(ReadRegFileTest, ValueLinesTheRegistryToolsImport) {
  ExpectEvents({
      {"@=\"d\"", {"3 value [] 1 6400"}},
      {"\"\"=\"d\"", {"3 value [] 1 6400"}},
      {"  \"a\" \t=\t \"x\"  \t", {"3 value [a] 1 7800"}},
      {"\"q\\\"\\\\n\"=\"a\\\\b\\\"c\\nd\\re\"", {"3 value [q\"\\n] 1 615c6222630a640d6500"}},
      // An unknown escape stands for its character.
      {"\"\\q\"=\"\\a\\tb\"", {"3 value [q] 1 61746200"}},
      {"\"s\"=\"x;y#z\" ; comment", {"3 value [s] 1 783b79237a00"}},
      {"\"d\"=dword:00000400", {"3 value [d] 4 00040000"}},
      {"\"d\"=dword:\tFf ;c", {"3 value [d] 4 ff000000"}},
      {"\"d\"=dword:;c", {"3 value [d] 4 00000000"}},
      {"\"b\"=hex:0a,FF,1", {"3 value [b] 3 0aff01"}},
      {"\"b\"=hex:", {"3 value [b] 3 "}},
      {"\"b\"=hex:;c", {"3 value [b] 3 "}},
      {"\"b\"=hex:01,02,", {"3 value [b] 3 0102"}},
      // Bytes are read as strtoul reads them.
      {"\"b\"=hex: 01, +2,0x3,-0,000ff", {"3 value [b] 3 01020300ff"}},
      {"\"n\"=hex(0):01", {"3 value [n] 0 01"}},
      {"\"n\"=hex():01", {"3 value [n] 0 01"}},
      {"\"n\"=hex(ffffffff):01", {"3 value [n] 4294967295 01"}},
      {"\"n\"=hex(-1):01", {"3 value [n] 4294967295 01"}},
      {"\"n\"=hex( +b):01", {"3 value [n] 11 01"}},
      // String types gain a NUL when their data does not end with one.
      {"\"e\"=hex(2):25,50,25", {"3 value [e] 2 25502500"}},
      {"\"e\"=hex(2):25,00", {"3 value [e] 2 2500"}},
      {"\"e\"=hex(7):", {"3 value [e] 7 "}},
      {"\"gone\"=-", {"3 value [gone] delete"}},
      {"\"gone\" = - ; c", {"3 value [gone] delete"}},
  });
}

TEST(ReadRegFileTest, LinesTheRegistryToolsSkip) {
  const std::string skipped = "; the line is skipped";
  ExpectEvents({
      {"\"d\"=DWORD:1",
       {"3 problem: the data must be a quoted string, dword:, hex:, hex(T): or -" + skipped}},
      {"\"d\"=dword:", {"3 problem: dword: needs 1 to 8 hexadecimal digits" + skipped}},
      {"\"d\"=dword:123456789", {"3 problem: dword: needs 1 to 8 hexadecimal digits" + skipped}},
      {"\"d\"=dword:0x1", {"3 problem: dword: needs 1 to 8 hexadecimal digits" + skipped}},
      {"\"d\"=dword:1 #c", {"3 problem: dword: needs 1 to 8 hexadecimal digits" + skipped}},
      {"\"b\"=HEX:01",
       {"3 problem: the data must be a quoted string, dword:, hex:, hex(T): or -" + skipped}},
      {"\"b\"=hex:100",
       {"3 problem: hex data must be hexadecimal bytes separated by commas" + skipped}},
      {"\"b\"=hex:01,,02",
       {"3 problem: hex data must be hexadecimal bytes separated by commas" + skipped}},
      {"\"b\"=hex:01 ,02",
       {"3 problem: hex data must be hexadecimal bytes separated by commas" + skipped}},
      {"\"b\"=hex:01 #c",
       {"3 problem: hex data must be hexadecimal bytes separated by commas" + skipped}},
      {"\"n\"=hex(0x2):01",
       {"3 problem: hex(T): needs a hexadecimal type number up to ffffffff" + skipped}},
      {"\"n\"=hex(100000000):01",
       {"3 problem: hex(T): needs a hexadecimal type number up to ffffffff" + skipped}},
      {"\"n\"=hex(2)01",
       {"3 problem: hex(T): needs a hexadecimal type number up to ffffffff" + skipped}},
      {"\"s\"=\"x\\0y\"",
       {"3 problem: the string holds \"\\0\", which the registry's tools refuse" + skipped}},
      {"\"x\\0\"=\"y\"",
       {"3 problem: the value name holds \"\\0\", which the registry's tools refuse" + skipped}},
      {"\"s\"=\"open", {"3 problem: the string has no closing quote" + skipped}},
      {"\"s\"=\"x\" y", {"3 problem: only a \";\" comment may follow the closing quote" + skipped}},
      {"\"s\"=\"x\"#y", {"3 problem: only a \";\" comment may follow the closing quote" + skipped}},
      {"\"open=\"x\"", {"3 problem: \"=\" is missing after the value name" + skipped}},
      {"\"s\" \"x\"", {"3 problem: \"=\" is missing after the value name" + skipped}},
      {"@x=\"y\"", {"3 problem: \"=\" is missing after the value name" + skipped}},
      {"\"s\"=",
       {"3 problem: the data must be a quoted string, dword:, hex:, hex(T): or -" + skipped}},
      {"\"s\"=-x",
       {"3 problem: only a comment may follow the \"-\" that deletes a value" + skipped}},
      {"name=\"x\"", {"3 problem: not a key line, a value line or a comment" + skipped}},
      // Comments and blank lines say nothing.
      {"; c\r\n# c\r\n  ;c\r\n\r\n \t\r\n", {}},
  });
}

TEST(ReadRegFileTest, KeyLines) {
  const std::string skipped = "; the line is skipped";
  EXPECT_EQ(Read("REGEDIT4\n"
                 "  [HKEY_CURRENT_USER\\A] text\n"
                 "[ HKEY_CURRENT_USER\\B]\n"
                 "\"in A\"=\"1\"\n"
                 "[HKEY_CURRENT_USER\\C\n"
                 "\"in A too\"=\"2\"\n"
                 "[HKEY_CURRENT_USER\\D]]\n"
                 "[-HKEY_CURRENT_USER\\D]\n"
                 "\"in no key\"=\"3\"\n"
                 "[HKEY_CURRENT_USER\\\\E]\n"
                 "\"in no key\"=\"4\"\n"
                 "[HKEY_CURRENT_USER\\F\\\\G\\]\n"),
            std::vector<std::string>({
                "2 problem: the text after the key's \"]\" is ignored",
                "2 key HKEY_CURRENT_USER\\A",
                "3 problem: a key name cannot begin with a space or tab" + skipped,
                "4 value [in A] 1 3100",
                "5 problem: a key line must end with \"]\"" + skipped,
                "6 value [in A too] 1 3200",
                "7 key HKEY_CURRENT_USER\\D]",
                "8 delete key HKEY_CURRENT_USER\\D",
                "9 problem: a value line must follow a key line" + skipped,
                "10 problem: the path below the root key cannot begin with a backslash" + skipped,
                "11 problem: a value line must follow a key line" + skipped,
                "12 key HKEY_CURRENT_USER\\F\\\\G\\",
            }));
}

TEST(ReadRegFileTest, ContinuedHexData) {
  const std::string skipped = "; the line is skipped";
  ExpectEvents({
      {"\"m\"=hex(7):61,\\\r\n  62,\\ ; c\r\n\r\n ; c\r\n  63\r\n\"next\"=\"x\"",
       {"3 value [m] 7 61626300", "8 value [next] 1 7800"}},
      {"\"b\"=hex:01,  \\\t;c\r\n02", {"3 value [b] 3 0102"}},
      // The end of the file ends the data.
      {"\"b\"=hex:01,\\\r\n02,\\\r\n", {"3 value [b] 3 0102"}},
      // A line that cannot continue the data is lost with it.
      {"\"b\"=hex:01,\\\r\n\"lost\"=\"x\"\r\n\"kept\"=\"y\"",
       {"3 problem: the hex data goes on in line 4, which does not continue it (that line is "
        "skipped too)" +
            skipped,
        "5 value [kept] 1 7900"}},
      {"\"b\"=hex:01\\\r\n\"kept\"=\"y\"",
       {"3 problem: hex data must be hexadecimal bytes separated by commas" + skipped,
        "4 value [kept] 1 7900"}},
      {"\"b\"=hex:01,\\ x\r\n02",
       {"3 problem: hex data must be hexadecimal bytes separated by commas" + skipped,
        "4 problem: not a key line, a value line or a comment" + skipped}},
      {"\"b\"=hex:01,\\\r\n02,  \r\n\"kept\"=\"y\"",
       {"3 problem: the hex data continued in line 4 must be hexadecimal bytes separated by "
        "commas" +
            skipped,
        "5 value [kept] 1 7900"}},
      // Data that ends at a comment leaves the next line to itself.
      {"\"b\"=hex:01,;c\r\n02",
       {"3 value [b] 3 01", "4 problem: not a key line, a value line or a comment" + skipped}},
  });
}

TEST(ReadRegFileTest, Headers) {
  struct Case {
    std::string file;
    bool ok;
    std::vector<std::string> events;
  };
  const std::string key = "\r\n[HKEY_USERS\\X]\r\n";
  const std::string not_reg =
      "1 problem: not a registry file: it must begin with \"REGEDIT4\" or \"Windows Registry "
      "Editor Version 5.00\"";
  const std::vector<Case> cases = {
      {"REGEDIT4" + key, true, {"2 key HKEY_USERS\\X"}},
      {" \tREGEDIT4" + key, true, {"2 key HKEY_USERS\\X"}},
      {"Windows Registry Editor Version 5.00" + key, true, {"2 key HKEY_USERS\\X"}},
      {Utf16("REGEDIT4" + key), true, {"2 key HKEY_USERS\\X"}},
      {"\xEF\xBB\xBFREGEDIT4" + key, true, {"2 key HKEY_USERS\\X"}},
      {"REGEDIT4", true, {}},
      // Headers that begin with REGEDIT: accepted, and nothing is imported.
      {"REGEDIT4 " + key, false, {}},
      {"REGEDIT5" + key, false, {}},
      {"regedit4" + key, false, {not_reg}},
      {"\r\nREGEDIT4" + key, false, {not_reg}},
      {"Windows Registry Editor Version 5.00 x" + key, false, {not_reg}},
      {"", false, {}},
      {std::string("R\0E\0G\0", 6),
       false,
       {"1 problem: not a registry file: UTF-16 text must begin with the byte order mark FF FE"}},
  };
  for (const Case& c : cases) {
    bool ok = false;
    const std::vector<std::string> events = Read(c.file, &ok);
    if (c.ok || !c.events.empty()) {
      EXPECT_EQ(events, c.events) << c.file;
      EXPECT_EQ(ok, c.ok) << c.file;
      continue;
    }
    // The fuzzy headers answer true and say so; an empty file answers false.
    ASSERT_EQ(events.size(), 1u) << c.file;
    EXPECT_EQ(ok, !c.file.empty()) << c.file;
    EXPECT_EQ(
        events[0].find(c.file.empty() ? "1 problem: the file is empty" : "1 problem: the header"),
        0u)
        << events[0];
  }
}

TEST(ReadRegFileTest, Windows31Form) {
  EXPECT_EQ(Read("REGEDIT\r\n"
                 "HKEY_CLASSES_ROOT\\.x = text  \r\n"
                 "HKEY_CLASSES_ROOT\\a=b\r\n"
                 "HKEY_CLASSES_ROOT\\c \t=  d\r\n"
                 "HKEY_CLASSES_ROOT\\e\r\n"
                 "  HKEY_CLASSES_ROOT\\f = g\r\n"
                 "[HKEY_CLASSES_ROOT\\h]\r\n"),
            std::vector<std::string>({
                "2 key HKEY_CLASSES_ROOT\\.x",
                "2 value [] 1 74657874202000",
                "3 key HKEY_CLASSES_ROOT\\a=b",
                "3 value [] 1 00",
                "4 key HKEY_CLASSES_ROOT\\c",
                "4 value [] 1 206400",
                "5 key HKEY_CLASSES_ROOT\\e",
                "5 value [] 1 00",
                "6 problem: a line of a Windows 3.1 registry file must begin with "
                "HKEY_CLASSES_ROOT; the line is skipped",
                "7 problem: a line of a Windows 3.1 registry file must begin with "
                "HKEY_CLASSES_ROOT; the line is skipped",
            }));
}

TEST(ReadRegFileTest, EncodingsAndLineEnds) {
  // In a UTF-16 file string data written as hex is UTF-16 whatever the
  // header says; in an 8-bit file it is 8-bit text whatever the header says.
  const std::string body =
      "\r\n[HKEY_USERS\\Caf\xc3\xa9]\r\n\"\xe2\x82\xac\"=\"\xc3\xa9\"\r\n"
      "\"e\"=hex(2):25,00,50,00\r\n";
  for (const char* header : {"REGEDIT4", "Windows Registry Editor Version 5.00"}) {
    EXPECT_EQ(Read(Utf16(header + body)), std::vector<std::string>({
                                              "2 key HKEY_USERS\\Caf\xc3\xa9",
                                              "3 value [\xe2\x82\xac] 1 c3a900",
                                              "4 value [e] 2 255000",
                                          }));
    EXPECT_EQ(Read(header + body), std::vector<std::string>({
                                       "2 key HKEY_USERS\\Caf\xc3\xa9",
                                       "3 value [\xe2\x82\xac] 1 c3a900",
                                       "4 value [e] 2 25005000",
                                   }));
  }
  // LF, CR LF and a CR alone end lines; a NUL ends the file.
  EXPECT_EQ(
      Read("REGEDIT4\r[HKEY_USERS\\X]\n\"a\"=\"1\r\"b\"=\"2\"\r\n\"c\"=\"3\0\"\r\n\"d\"=\"4\""s),
      std::vector<std::string>({
          "2 key HKEY_USERS\\X",
          "3 problem: the string has no closing quote; the line is skipped",
          "4 value [b] 1 3200",
          "5 problem: the string has no closing quote; the line is skipped",
          "5 problem: a NUL character ends the file here; the rest is not read",
      }));
  EXPECT_EQ(Read(Utf16("REGEDIT4\n[HKEY_USERS\\X]\n\"a\"=\"1\0\"\n\"b\"=\"2\"\n"s)),
            std::vector<std::string>({
                "2 key HKEY_USERS\\X",
                "3 problem: the string has no closing quote; the line is skipped",
                "3 problem: a NUL character ends the file here; the rest is not read",
            }));
}

std::string Write(RegFormat format,
                  const std::vector<std::pair<std::string, std::vector<Recorder::Seen>>>& keys) {
  StringOutput out;
  RegFileWriter writer(&out, format);
  writer.Header();
  for (const auto& key : keys) {
    writer.Key(key.first);
    for (const Recorder::Seen& value : key.second)
      writer.Value(value.name, value.type, value.data.data(), value.data.size());
  }
  writer.Finish();
  return out.text();
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Whatever the writer writes, the reader reads back as it was, in both
// formats.
TEST(ReadRegFileTest, RoundTripsEveryTypeTheWriterWrites) {
  std::vector<std::uint8_t> big(3000);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<Recorder::Seen> values = {
      {"", 1, Bytes(std::string("\0", 1))},
      {"sz", 1, Bytes(std::string("caf\xc3\xa9 \"q\" \\ \0", 14))},
      {"sz with NULs", 1, Bytes(std::string("a\0b\0", 4))},
      {"sz with lines", 1, Bytes(std::string("a\r\nb\0", 5))},
      {"expand", 2, Bytes(std::string("%HOME%\\x\0", 9))},
      {"multi", 7, Bytes(std::string("one\0two\0\0", 9))},
      {"multi empty", 7, Bytes(std::string("\0", 1))},
      {"dword", 4, {0x78, 0x56, 0x34, 0x12}},
      {"dword short", 4, {0x01, 0x02}},
      {"qword", 11, {1, 2, 3, 4, 5, 6, 7, 0xff}},
      {"binary", 3, big},
      {"binary empty", 3, {}},
      {"none", 0, {0xde, 0xad}},
      {"type 0x12345", 0x12345, {1}},
      {"name\nwith\rbreaks", 1, Bytes(std::string("x\0", 2))},
  };
  // Names past the width of a line, so that the data breaks after its first
  // byte, with data of every length around the breaks.
  for (std::size_t size = 1; size <= 80; ++size)
    values.push_back({std::string(70 + size, 'N'), 3, std::vector<std::uint8_t>(size, 0xab)});
  for (RegFormat format : {RegFormat::kRegedit4, RegFormat::kVersion5}) {
    const std::string file = Write(format, {{"HKEY_LOCAL_MACHINE\\Software\\R", values}});
    std::istringstream in(file);
    Recorder recorder;
    ASSERT_TRUE(ReadRegFile(in, &recorder));
    ASSERT_EQ(recorder.values.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(recorder.values[i].name, values[i].name);
      EXPECT_EQ(recorder.values[i].type, values[i].type) << values[i].name;
      EXPECT_EQ(recorder.values[i].data, values[i].data) << values[i].name;
    }
  }
}

// String data without a final NUL is written as hex and gains the NUL when
// read back, as it does with the registry's tools.
TEST(ReadRegFileTest, StringDataGainsItsNulWhenReadBack) {
  for (RegFormat format : {RegFormat::kRegedit4, RegFormat::kVersion5}) {
    std::istringstream in(Write(format, {{"HKEY_USERS\\X", {{"s", 1, Bytes("abc")}}}}));
    Recorder recorder;
    ASSERT_TRUE(ReadRegFile(in, &recorder));
    ASSERT_EQ(recorder.values.size(), 1u);
    EXPECT_EQ(recorder.values[0].data, Bytes("abc"s + '\0'));
  }
}

}  // namespace
}  // namespace regstore_tool
