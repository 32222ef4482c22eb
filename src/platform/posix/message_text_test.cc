#include "platform/posix/message_text.h"

#include <gtest/gtest.h>

#include <string>

namespace plat {
namespace posix {
namespace {

using namespace std::string_literals;

TEST(ConsoleMessageTest, ShowsWhatTheBoxShows) {
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
      {"tabs and code-page letters stay", "C", "a\tb \xe9\xc9\xff\x9f",
       "C\na\tb \xe9\xc9\xff\x9f\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ConsoleMessage(c.caption, c.text), c.shown) << c.what;
}

}  // namespace
}  // namespace posix
}  // namespace plat
