#include "platform/ui.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "platform/message_recorder.h"

namespace plat {

int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type) {
  if (RecordMessage(owner, text, caption, type))
    return kIdOk;
  const std::string out = MessageAsLines(text, caption);
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
  return kIdOk;
}

Window GetForegroundWindow() {
  return kNoWindow;
}

void Sleep(std::uint32_t milliseconds) {
  struct timespec wait;
  wait.tv_sec = milliseconds / 1000;
  wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace plat
