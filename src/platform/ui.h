// Message boxes and the windows they are owned by.
#ifndef BREVLIN_PLATFORM_UI_H_
#define BREVLIN_PLATFORM_UI_H_

#include <cstdint>
#include <functional>
#include <string>

namespace plat {

// A window handle; null (0) means no window.
using Window = std::uintptr_t;
constexpr Window kNoWindow = 0;

// Message box styles and answers.
constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbIconError = 0x10;
constexpr std::uint32_t kMbSetForeground = 0x10000;
constexpr int kIdOk = 1;

// Shows a message to the user and answers the button that closed it.
//
// On Windows this is a modal MessageBoxA that waits until the user closes it;
// where no box can be shown (no desktop: a service, or Wine with no
// display), the message goes to standard error as below and answers OK.
// Elsewhere the message goes to standard error: the caption on one line, then
// the text with every CR LF turned into a line break, then a line break;
// nothing waits for input. While a recorder is set, the message goes to the
// recorder instead, on every system.
int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type);

// What a recorder receives for each message.
struct ShownMessage {
  Window owner;
  std::string text;
  std::string caption;
  std::uint32_t type;
};
using MessageRecorder = std::function<void(const ShownMessage&)>;

// Sends every message to `recorder` instead of showing it; an empty recorder
// shows messages again. For tests.
void SetMessageRecorder(MessageRecorder recorder);

// The configuration file and the line in it that the following messages
// concern, until another is set; an empty `file_name` sets none. Elsewhere
// than on Windows the text of a message is preceded by the location,
// "FILE:LINE: " ("FILE: " for line 0) with the file named as MessageFileName
// gives it; a Windows box shows the text alone. A recorder receives the text
// alone on every system.
void SetMessageLocation(const std::string& file_name, std::uint64_t line);
// The location set last, written as above; empty when none is set.
std::string MessageLocationPrefix();
// A file name as the messages show it: on Windows unchanged, elsewhere in the
// system's own form, with "/" for every "\".
std::string MessageFileName(const std::string& file_name);

// The window the user works in now (null when there is none or, elsewhere
// than on Windows, always null).
Window GetForegroundWindow();

// Suspends the calling thread for at least `milliseconds`.
void Sleep(std::uint32_t milliseconds);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_UI_H_
