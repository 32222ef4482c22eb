// The message recorder shared by both implementations of MessageBoxA.
#ifndef BREVLIN_PLATFORM_MESSAGE_RECORDER_H_
#define BREVLIN_PLATFORM_MESSAGE_RECORDER_H_

#include "platform/ui.h"

namespace plat {

// Hands the message to the recorder, if one is set, and answers whether it did.
bool RecordMessage(Window owner, const std::string& text, const std::string& caption,
                   std::uint32_t type);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_MESSAGE_RECORDER_H_
