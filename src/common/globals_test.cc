#include "common/globals.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Windows' default English locale: "," thousands, no positive sign, "-" and ".".
constexpr LocaleNumberChars kEnglish = {',', '\0', '-', '.'};

struct Case {
  std::string text;
  std::int32_t expected;
};

TEST(LocaleStrToInt, DecodesWithEnglishCharacters) {
  const Case cases[] = {
      {"42", 42},
      {"  42", 42},
      {"\t42", 0},  // only spaces are skipped
      {"-42", -42},
      {"+42", 42},
      {"$2A", 42},
      {"x2A", 42},
      {"X2a", 42},
      {"0x2A", 42},
      {"0X2a", 42},
      {"-0x2A", -42},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", INT32_MIN},
      {"2147483649", -2147483647},
      {"2147483650", -2147483646},
      {"4294967295", -1},         // the magnitude may use all 32 bits
      {"4294967296", 429496729},  // the digit that would overflow ends the number
      {"99999999999", 999999999},
      {"$FFFFFFFF", -1},
      {"$100000000", 268435456},
      {"1,000,000", 1000000},
      {"1,024", 1024},
      {"1.5", 1},
      {"-5 ", -5},  // a number that stops early keeps its sign
      {"-12abc", -12},
      {"12 ", 12},
      {"12abc", 12},
      {"0", 0},
      {"$", 0},
      {"-", 0},
      {"", 0},
      {"--5", 0},  // a second sign is not a sign
      {"+-5", 0},
      {"- 5", 0},
      {"007", 7},
      {"0x", 0},
      {"G5", 0},
      {std::string("-5\0x", 4), -5},  // NUL ends the text
      {std::string("\0"
                   "5",
                   2),
       0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LocaleStrToInt(c.text, kEnglish), c.expected) << "\"" << c.text << "\"";
  }
}

TEST(LocaleStrToInt, LocaleCharactersStandForSignsAndSeparators) {
  // "." groups thousands and "," separates decimals.
  const LocaleNumberChars german = {'.', '\0', '-', ','};
  EXPECT_EQ(LocaleStrToInt("1.000", german), 1000);
  EXPECT_EQ(LocaleStrToInt("1,5", german), 1);
  EXPECT_EQ(LocaleStrToInt("-1.000.000", german), -1000000);

  // A locale whose signs are other characters: they are read as "+" and "-",
  // and the ASCII signs still work as signs.
  const LocaleNumberChars odd = {'\'', 'p', 'm', '.'};
  EXPECT_EQ(LocaleStrToInt("m42", odd), -42);
  EXPECT_EQ(LocaleStrToInt("p1'000", odd), 1000);
  EXPECT_EQ(LocaleStrToInt("-42", odd), -42);
  EXPECT_EQ(LocaleStrToInt("1,000", odd), 1);  // "," is no separator here

  // A separator that is a hexadecimal digit is removed before the digits are read.
  const LocaleNumberChars a_thousands = {'A', '\0', '-', '.'};
  EXPECT_EQ(LocaleStrToInt("$1A0", a_thousands), 0x10);

  // An empty setting (NUL) matches nothing, not even a NUL byte in the text.
  const LocaleNumberChars empty = {'\0', '\0', '\0', '\0'};
  EXPECT_EQ(LocaleStrToInt("1,000", empty), 1);
  EXPECT_EQ(LocaleStrToInt(std::string("-7\0"
                                       "9",
                                       4),
                           empty),
            -7);
}

TEST(LocaleNumberChars, AreFixedOnceForTheRun) {
  FixLocaleNumberChars();
  const LocaleNumberChars first = NumberChars();
  FixLocaleNumberChars();
  const LocaleNumberChars& second = NumberChars();
  EXPECT_EQ(first.thousand_separator, second.thousand_separator);
  EXPECT_EQ(first.positive_sign, second.positive_sign);
  EXPECT_EQ(first.negative_sign, second.negative_sign);
  EXPECT_EQ(first.decimal_separator, second.decimal_separator);
  // Under the test command's locale (English on Windows, C here) the worked
  // example of the format decodes the same on both systems.
  EXPECT_EQ(LocaleStrToInt("1,024"), 1024);
  EXPECT_EQ(LocaleStrToInt("-17"), -17);
}

}  // namespace

namespace {

TEST(ReadLocaleInteger, TellsHowTheTextWasRead) {
  struct Case {
    std::string text;
    std::int32_t value;
    bool has_digits;
    bool whole;
    bool out_of_range;
  };
  const LocaleNumberChars english = {',', '\0', '-', '.'};
  const Case cases[] = {
      {"1,024", 1024, true, true, false},  // the thousands separator is dropped
      {"-40", -40, true, true, false},
      {"$FF00", 0xFF00, true, true, false},
      {"4294967295", -1, true, true, false},
      {"4294967296", 429496729, true, false, true},
      {"$100000000", 268435456, true, false, true},
      {"12 apples", 12, true, false, false},
      {"1.5", 1, true, false, false},
      {"12 ", 12, true, false, false},
      {std::string("12\0"
                   "3",
                   4),
       12, true, false, false},
      {"abc", 0, false, false, false},
      {"", 0, false, true, false},
      {"$", 0, false, true, false},
  };
  for (const Case& c : cases) {
    IntegerReading reading = ReadLocaleInteger(c.text, english);
    EXPECT_EQ(reading.value, c.value) << c.text;
    EXPECT_EQ(reading.has_digits, c.has_digits) << c.text;
    EXPECT_EQ(reading.whole, c.whole) << c.text;
    EXPECT_EQ(reading.out_of_range, c.out_of_range) << c.text;
    EXPECT_EQ(reading.value, LocaleStrToInt(c.text, english)) << c.text;
  }
}

}  // namespace
