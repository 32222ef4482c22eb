// How a message box reads on standard error.
#ifndef BREVLIN_PLATFORM_POSIX_MESSAGE_TEXT_H_
#define BREVLIN_PLATFORM_POSIX_MESSAGE_TEXT_H_

#include <string>

namespace plat {
namespace posix {

// The caption on the first line, then the text, each as the box shows it:
// cut at its first NUL, as the box takes a C string. CR LF becomes a line
// end; any other control character (a lone CR, ESC, a bell, DEL), which the
// box draws as a mark but a terminal would act on, is written as "\xHH", its
// number in hexadecimal ("\x1B" for ESC). Tabs stay.
std::string ConsoleMessage(const std::string& caption, const std::string& text);

}  // namespace posix
}  // namespace plat

#endif  // BREVLIN_PLATFORM_POSIX_MESSAGE_TEXT_H_
