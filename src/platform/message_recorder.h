// The message recorder shared by both implementations of MessageBoxA, and
// the text a message takes where it is written instead of shown.
#ifndef BREVLIN_PLATFORM_MESSAGE_RECORDER_H_
#define BREVLIN_PLATFORM_MESSAGE_RECORDER_H_

#include "platform/ui.h"

namespace plat {

// Hands the message to the recorder, if one is set, and answers whether it did.
bool RecordMessage(Window owner, const std::string& text, const std::string& caption,
                   std::uint32_t type);

// A message as it goes to standard error: the caption on one line, then the
// text with every CR LF turned into a line break, then a line break.
std::string MessageAsLines(const std::string& text, const std::string& caption);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_MESSAGE_RECORDER_H_
