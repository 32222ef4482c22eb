#include "platform/ui.h"

#include "platform/message_recorder.h"
#include "platform/win32/standard_error.h"
#include "platform/win32/windows_wrapper.h"

namespace plat {

int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type) {
  if (RecordMessage(owner, text, caption, type))
    return kIdOk;
  const int answer =
      ::MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(), type);
  if (answer > 0)
    return answer;
  // No box could be shown: there is no desktop to show it on (a service, or
  // Wine with no display). Windows then answers 0, Wine -1, the failure of
  // the dialog box under the message box. The message goes to standard error instead, as
  // the Linux program writes it, so that it is not lost; the box's only
  // button counts as pressed.
  win32::WriteStandardError(MessageAsLines(text, caption));
  return kIdOk;
}

Window GetForegroundWindow() {
  return reinterpret_cast<Window>(::GetForegroundWindow());
}

void Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace plat
