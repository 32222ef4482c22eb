// The message recorder shared by both implementations of MessageBoxA, and
// the text a message takes where it is written instead of shown.
#ifndef BREVLIN_PLATFORM_MESSAGE_RECORDER_H_
#define BREVLIN_PLATFORM_MESSAGE_RECORDER_H_

#include "platform/ui.h"

namespace plat {

// Hands the message to the recorder, if one is set, and answers whether it did.
bool RecordMessage(Window owner, const std::string& text, const std::string& caption,
                   std::uint32_t type);

// A message as it goes to standard error where no box shows it: the caption
// on the first line, then the text, each as the box shows it: cut at its
// first NUL, as the box takes a C string. CR LF becomes a line end; any other
// control character (a lone CR, ESC, a bell, DEL), which the box draws as a
// mark but a terminal would act on, is written as "\xHH", its number in
// hexadecimal ("\x1B" for ESC). Tabs stay.
std::string MessageAsLines(const std::string& text, const std::string& caption);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_MESSAGE_RECORDER_H_
