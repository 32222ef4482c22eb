#include "platform/ui.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "platform/message_recorder.h"
#include "platform/posix/linux_file_names.h"
#include "platform/registry.h"

namespace plat {

int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type) {
  // What the program has written is in the registry before anyone reads
  // about it.
  FlushPendingWrites();
  if (RecordMessage(owner, text, caption, type))
    return kIdOk;
  // The location of the line a message concerns goes before its text.
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
  // Nobody waits for the registry's write lock while this process sleeps.
  FlushPendingWrites();
  struct timespec wait;
  wait.tv_sec = milliseconds / 1000;
  wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace plat
