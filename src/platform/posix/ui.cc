#include "platform/ui.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "platform/message_recorder.h"
#include "platform/posix/linux_file_names.h"

namespace plat {

int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type) {
  if (RecordMessage(owner, text, caption, type))
    return kIdOk;
  // The file and line the message concerns come first on the text's line.
  const std::string out = MessageAsLines(MessageLocationPrefix() + text, caption);
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
  return kIdOk;
}

std::string MessageFileName(const std::string& file_name) {
  return posix::ToPosixPath(file_name);
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
