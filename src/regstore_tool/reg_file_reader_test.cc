#include "regstore_tool/reg_file_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "regstore_tool/reg_file_writer.h"
#include "regstore_tool/text.h"

namespace regstore_tool {
namespace {

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

TEST(ReadRegFileTest, EveryFormOfRegedit4) {
  const std::string file =
      "REGEDIT4\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Example]\r\n"
      "@=\"the unnamed value\"\r\n"
      "\"Quote\\\"d\"=\"C:\\\\dir\\\\\\\"x\\\"\"\r\n"
      "\"Count\" = dword:00000400\r\n"
      "\"Short\"=DWORD:ff\r\n"
      "\"Bytes\"=hex:0a,ff,10\r\n"
      "\"Empty\"=hex:\r\n"
      "\"Expand\"=hex(2):25,50,25,00\r\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00 ; eight bytes\r\n"
      "\"Long\"=hex(7):61,00,\\\r\n"
      "  62,00,\\ ; comment\r\n"
      "  00\r\n"
      "\"Escapes\"=\"a\\nb\\rc\\0d\\qe\"\r\n"
      "\"Gone\"=-\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Old]\r\n"
      "[HKEY_CURRENT_USER\\Software\\Odd] name]\r\n";
  bool ok = false;
  const std::vector<std::string> expected = {
      "4 key HKEY_CURRENT_USER\\Software\\Example",
      "5 value [] 1 74686520756e6e616d65642076616c756500",
      "6 value [Quote\"d] 1 433a5c6469725c22782200",
      "7 value [Count] 4 00040000",
      "8 value [Short] 4 ff000000",
      "9 value [Bytes] 3 0aff10",
      "10 value [Empty] 3 ",
      "11 value [Expand] 2 25502500",
      "12 value [Q] 11 0100000000000000",
      "13 value [Long] 7 61006200"
      "00",
      "16 value [Escapes] 1 610a620d630064"
      "5c716500",
      "17 value [Gone] delete",
      "18 delete key HKEY_CURRENT_USER\\Software\\Old",
      "19 key HKEY_CURRENT_USER\\Software\\Odd] name",
  };
  // The escapes line: a, LF, b, CR, c, NUL, d, then the unknown escape kept.
  EXPECT_EQ(Read(file, &ok), expected);
  EXPECT_TRUE(ok);
}

TEST(ReadRegFileTest, Version5InUtf16ConvertsStringData) {
  // "Path"=hex(2) holds "%P%" in UTF-16LE; the store keeps it as 8-bit text.
  const std::string file = Utf16(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Caf\xc3\xa9]\r\n"
      "\"Name \xe2\x82\xac\"=\"\xc3\xa9t\xc3\xa9\"\r\n"
      "\"Path\"=hex(2):25,00,50,00,25,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"Bin\"=hex:25,00\r\n");
  EXPECT_EQ(Read(file), std::vector<std::string>({
                            "3 key HKEY_CURRENT_USER\\Software\\Caf\xc3\xa9",
                            "4 value [Name \xe2\x82\xac] 1 c3a974c3a900",
                            "5 value [Path] 2 25502500",
                            "6 value [Multi] 7 6100620000",
                            "7 value [Bin] 3 2500",
                        }));
  // Version 5 as UTF-8, with and without a byte order mark, and LF line ends.
  for (const char* bom : {"", "\xEF\xBB\xBF"}) {
    EXPECT_EQ(Read(std::string(bom) + "Windows Registry Editor Version 5.00\n[HKEY_USERS\\X]\n"
                                      "\"S\"=hex(1):41,00,00,00\n"),
              std::vector<std::string>({"2 key HKEY_USERS\\X", "3 value [S] 1 4100"}));
  }
}

TEST(ReadRegFileTest, ProblemsNameTheirLinesAndReadingGoesOn) {
  const std::string file =
      "REGEDIT4\n"
      "\"Early\"=\"no key yet\"\n"
      "[HKEY_CURRENT_USER\\A\n"
      "[HKEY_CURRENT_USER\\B]\n"
      "\"Bad\"=dword:123456789\n"
      "\"Bad\"=hex:1,2x\n"
      "\"Bad\"=hex(zz):00\n"
      "\"Open=x\n"
      "\"NoEquals\" \"x\"\n"
      "\"Bad\"=\"unterminated\n"
      "\"Bad\"=\"x\" trailing\n"
      "\"Bad\"=text\n"
      "garbage\n"
      "\"Good\"=hex:01,\\\n"
      "  02\n"
      "[-HKEY_CURRENT_USER\\B]\n"
      "\"After\"=\"deleted key\"\n";
  const std::vector<std::string> got = Read(file);
  const std::vector<std::string> expected = {
      "2 problem: a value line must follow a key line",
      "3 problem: a key line must end with \"]\"",
      "4 key HKEY_CURRENT_USER\\B",
      "5 problem: a dword must be 1 to 8 hexadecimal digits",
      "6 problem: hex data must be bytes of two hexadecimal digits separated by commas",
      "7 problem: the type in hex(...) must be 1 to 8 hexadecimal digits",
      "8 problem: the value name has no closing quote",
      "9 problem: \"=\" is missing after the value name",
      "10 problem: the string has no closing quote",
      "11 problem: unexpected text after the string",
      "12 problem: the data must be a quoted string, dword:, hex:, hex(N): or -",
      "13 problem: not a key line, a value line or a comment",
      "14 value [Good] 3 0102",
      "16 delete key HKEY_CURRENT_USER\\B",
      "17 problem: a value line must follow a key line",
  };
  EXPECT_EQ(got, expected);
}

TEST(ReadRegFileTest, RefusesFilesWithoutHeader) {
  for (const std::string& file : {std::string(), std::string("[HKEY_USERS\\X]\n"),
                                  std::string("REGEDIT5\n"), Utf16("REGEDIT 4\r\n")}) {
    bool ok = true;
    const std::vector<std::string> events = Read(file, &ok);
    EXPECT_FALSE(ok);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].substr(0, 11), "1 problem: ");
  }
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
      {"sz without NUL", 1, Bytes("abc")},
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

}  // namespace
}  // namespace regstore_tool
