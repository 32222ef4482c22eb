#include "regdefs/shown_text.h"

#include <gtest/gtest.h>

#include <string>

namespace regdefs {
namespace {

using namespace std::string_literals;

TEST(ShownTextTest, EscapesWhatATerminalWouldActOn) {
  const struct {
    const char* what;
    ShowStyle style;
    std::string text;
    std::string shown;
  } cases[] = {
      {"empty", kShowItem, "", ""},
      {"plain text and backslashes stay", kShowItem, "Software\\A b", "Software\\A b"},
      {"tab, LF and CR by name", kShowItem, "a\tb\nc\rd", "a\\tb\\nc\\rd"},
      {"CR LF is two characters", kShowItem, "a\r\nb", "a\\r\\nb"},
      {"escape sequences", kShowItem, "\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},
      {"NUL inside", kShowItem, "nul\0end"s, "nul\\x00end"},
      {"NUL at either end", kShowItem, "\0x\0"s, "\\x00x\\x00"},
      {"every other C0 control in capitals", kShowItem, "\x01\x08\x0b\x0c\x1f",
       "\\x01\\x08\\x0B\\x0C\\x1F"},
      {"DEL", kShowItem, "del\x7f", "del\\x7F"},
      {"space and tilde are printable", kShowItem, " ~", " ~"},
      {"code-page letters stay", kShowItem, "caf\xe9 \x80\x9b\xff", "caf\xe9 \x80\x9b\xff"},
      {"C1 as UTF-8 stays in code-page text", kShowItem, "\xc2\x9b", "\xc2\x9b"},
      {"quotes stay unquoted", kShowItem, "say \"hi\"", "say \"hi\""},

      {"lines: tab and LF stay", kShowLines, "a\tb\nc", "a\tb\nc"},
      {"lines: CR LF becomes LF", kShowLines, "a\r\nb\r\n\r\nc", "a\nb\n\nc"},
      {"lines: a lone CR is a control", kShowLines, "lone\rcr\r", "lone\\x0Dcr\\x0D"},
      {"lines: CR CR LF", kShowLines, "a\r\r\nb", "a\\x0D\nb"},
      {"lines: other controls", kShowLines, "bell\a esc\x1b[31m del\x7f",
       "bell\\x07 esc\\x1B[31m del\\x7F"},
      {"lines: NUL inside", kShowLines, "a\0b"s, "a\\x00b"},

      {"UTF-8: C1 controls", kShowUtf8,
       "csi \xc2\x9b"
       "31m \xc2\x80\xc2\x9f",
       "csi \\u009B31m \\u0080\\u009F"},
      {"UTF-8: other letters stay", kShowUtf8, "caf\xc3\xa9 \xc2\xa0", "caf\xc3\xa9 \xc2\xa0"},
      {"UTF-8: a stray byte stays", kShowUtf8, "raw \x9b byte \xc2", "raw \x9b byte \xc2"},
      {"UTF-8: C0 as ever", kShowUtf8, "\t\x1b", "\\t\\x1B"},

      {"quoted: quote and backslash", kShowQuoted, "say \"hi\" C:\\x", "say \\\"hi\\\" C:\\\\x"},
      {"quoted: controls", kShowQuoted, "v\0w\tx\x1b"s, "v\\x00w\\tx\\x1B"},
      {"quoted lines", kShowQuoted | kShowLines, "\"a\"\r\n\\", "\\\"a\\\"\n\\\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShownText(c.text, c.style), c.shown) << c.what;
    EXPECT_EQ(IsShownEscaped(c.text, c.style), c.text != c.shown) << c.what;
  }
}

TEST(ShownTextTest, AppendsToWhatIsThere) {
  std::string out = "before ";
  AppendShown("\x1b", kShowItem, &out);
  AppendShown("x\r\n", kShowLines, &out);
  EXPECT_EQ(out, "before \\x1Bx\n");
}

// No byte reaches the output as a control byte, whatever the style: every
// one of them is written as printable text.
TEST(ShownTextTest, NoControlByteGetsThrough) {
  std::string every_byte;
  for (int c = 0; c < 256; ++c)
    every_byte += static_cast<char>(c);
  for (ShowStyle style : {kShowItem, kShowUtf8, kShowQuoted}) {
    const std::string shown = ShownText(every_byte, style);
    for (char c : shown) {
      const unsigned char byte = static_cast<unsigned char>(c);
      EXPECT_FALSE(byte < 0x20 || byte == 0x7F) << "style " << style << " byte " << int{byte};
    }
  }
  for (char c : ShownText(every_byte, kShowLines)) {
    const unsigned char byte = static_cast<unsigned char>(c);
    EXPECT_FALSE((byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F) << int{byte};
  }
}

}  // namespace
}  // namespace regdefs
