#include "platform/ui.h"

#include "platform/message_recorder.h"
#include "platform/win32/windows_wrapper.h"

namespace plat {

int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type) {
  if (RecordMessage(owner, text, caption, type))
    return kIdOk;
  return ::MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(), type);
}

Window GetForegroundWindow() {
  return reinterpret_cast<Window>(::GetForegroundWindow());
}

void Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace plat
