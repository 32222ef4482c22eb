#include "platform/message_recorder.h"

#include <gtest/gtest.h>

#include <string>

namespace plat {
namespace {

using namespace std::string_literals;

TEST(MessageAsLinesTest, ShowsWhatTheBoxShows) {
  const struct {
    const char* what;
    std::string caption;
    std::string text;
    std::string shown;
  } cases[] = {
      {"caption, then the text", "Register Brevlin", "Failed to set data for 'Count'",
       "Register Brevlin\nFailed to set data for 'Count'\n"},
      {"CR LF ends a line", "C", "a\r\nb\r\n\r\nc", "C\na\nb\n\nc\n"},
      {"the text ends at a NUL", "C", "Failed to set data for 'Nu\0ll'"s,
       "C\nFailed to set data for 'Nu\n"},
      {"the caption ends at a NUL", "Cap\0tion"s, "t", "Cap\nt\n"},
      {"a NUL first leaves nothing", "C", "\0rest"s, "C\n\n"},
      {"control characters are escaped", "C", "bell\a esc\x1b[31m del\x7f lone\rcr",
       "C\nbell\\x07 esc\\x1B[31m del\\x7F lone\\x0Dcr\n"},
      {"a CR before a NUL is lone", "C", "a\r\0\nb"s, "C\na\\x0D\n"},
      {"the caption is escaped too", "C\x1b]0;x\x07", "t", "C\\x1B]0;x\\x07\nt\n"},
      {"tabs, backslashes and code-page letters stay", "C", "a\tb\\c \xe9\xc9\xff\x9f\xc2\x9b",
       "C\na\tb\\c \xe9\xc9\xff\x9f\xc2\x9b\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MessageAsLines(c.text, c.caption), c.shown) << c.what;
}

}  // namespace
}  // namespace plat
