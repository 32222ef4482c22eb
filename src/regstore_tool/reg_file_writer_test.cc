#include "regstore_tool/reg_file_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "regstore_tool/text.h"

namespace regstore_tool {
namespace {

struct Seen {
  std::string name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  AppendUtf16Le(text, &wide);
  return wide;
}

std::string Write(RegFormat format,
                  const std::vector<std::pair<std::string, std::vector<Seen>>>& keys) {
  StringOutput out;
  RegFileWriter writer(&out, format);
  writer.Header();
  for (const auto& key : keys) {
    writer.Key(key.first);
    for (const Seen& value : key.second)
      writer.Value(value.name, value.type, value.data.data(), value.data.size());
  }
  writer.Finish();
  return out.text();
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(RegFileWriterTest, WritesRegedit4AsTheRegistryEditorDoes) {
  std::vector<std::uint8_t> long_data(40);
  for (std::size_t i = 0; i < long_data.size(); ++i)
    long_data[i] = static_cast<std::uint8_t>(i);
  const std::string text =
      Write(RegFormat::kRegedit4, {{"HKEY_CURRENT_USER\\Software\\X",
                                    {{"", 1, Bytes(std::string("default\0", 8))},
                                     {"q\"uote\\", 1, Bytes(std::string("a\"b\\c\0", 6))},
                                     {"n", 4, {0x00, 0x04, 0x00, 0x00}},
                                     {"line", 1, Bytes(std::string("a\nb\0", 4))},
                                     {"long", 3, long_data}}},
                                   {"HKEY_CURRENT_USER\\Software\\X\\Empty", {}}});
  EXPECT_EQ(text,
            "REGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\X]\r\n"
            "@=\"default\"\r\n"
            "\"q\\\"uote\\\\\"=\"a\\\"b\\\\c\"\r\n"
            "\"n\"=dword:00000400\r\n"
            "\"line\"=hex(1):61,0a,62,00\r\n"
            "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
            "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\X\\Empty]\r\n"
            "\r\n");
}

TEST(RegFileWriterTest, Version5IsUtf16WithStringDataInUtf16) {
  const std::string text =
      Write(RegFormat::kVersion5, {{"HKEY_USERS\\X", {{"e", 2, Bytes(std::string("%P%\0", 4))}}}});
  EXPECT_EQ(text, Utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_USERS\\X]\r\n"
                        "\"e\"=hex(2):25,00,50,00,25,00,00,00\r\n"
                        "\r\n"));
}

}  // namespace
}  // namespace regstore_tool
