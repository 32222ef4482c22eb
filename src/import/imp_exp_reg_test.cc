#include "import/imp_exp_reg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/globals.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HexTripletsToBytes, EveryThreeCharactersGiveOneByte) {
  const std::pair<std::string, Bytes> cases[] = {
      {"", {}},
      {"FF", {}},  // a final group of two adds nothing
      {"F", {}},
      {"FF ", {0xFF}},
      {"ff;00;7f;", {0xFF, 0x00, 0x7F}},
      {"0A,FF,10,", {0x0A, 0xFF, 0x10}},
      {"0A,FF,10", {0x0A, 0xFF}},
      {"0AFF10", {0x0A, 0xF1}},  // the third character of a group is not looked at
      {"G5,5G,", {0x00, 0x05}},  // decoded as "$G5" and "$5G"
      {"-1,+1,", {0x00, 0x00}},  // "$-1": a sign after "$" is no digit
      {std::string("\0"
                   "1,2",
                   4),
       {0x00}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexTripletsToBytes(c.first), c.second) << "\"" << c.first << "\"";
  }
}

TEST(HexTripletsToBytes, LargeBlocks) {
  std::string text;
  Bytes expected;
  for (int i = 0; i < 100000; ++i) {
    const char* hex = "0123456789abcdef";
    text += hex[(i >> 4) & 15];
    text += hex[i & 15];
    text += ',';
    expected.push_back(static_cast<std::uint8_t>(i & 0xFF));
  }
  EXPECT_EQ(HexTripletsToBytes(text), expected);
}

// Every pair of bytes decodes as "$" and the pair does, whatever characters
// the locale uses, including ones that are hexadecimal digits or "$".
TEST(HexTripletsToBytes, EveryPairAsLocaleStrToIntReadsIt) {
  const LocaleNumberChars locales[] = {
      {',', '+', '-', '.'},     {',', '\0', '-', '.'}, {'.', '+', '-', ','},
      {'\0', '\0', '\0', '\0'}, {'$', 'A', '0', 'f'},  {' ', 'x', 'F', '1'},
  };
  for (const LocaleNumberChars& chars : locales) {
    for (int high = 0; high < 256; ++high) {
      for (int low = 0; low < 256; ++low) {
        const char pair[3] = {static_cast<char>(high), static_cast<char>(low), ','};
        const char dollar[3] = {'$', pair[0], pair[1]};
        const Bytes got = HexTripletsToBytes(std::string_view(pair, 3), chars);
        const auto want =
            static_cast<std::uint8_t>(LocaleStrToInt(std::string_view(dollar, 3), chars) & 0xFF);
        ASSERT_EQ(got, Bytes{want}) << "pair " << high << ", " << low << " with thousands '"
                                    << chars.thousand_separator << "'";
      }
    }
  }
}

}  // namespace
