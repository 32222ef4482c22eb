#include "platform/ui.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "platform/message_recorder.h"
#include "platform/posix/linux_file_names.h"
#include "platform/registry.h"

namespace plat {

namespace {

// Appends `text` for standard error: CR LF and LF become line breaks, and
// every other control byte (a lone CR, ESC, DEL and the rest below 0x20) is
// written as \xHH. A message may hold names from a configuration file, and
// such bytes would otherwise reach the terminal as commands to it.
void AppendVisible(const std::string& text, std::string* out) {
  static const char kHex[] = "0123456789ABCDEF";
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      *out += '\n';
      ++i;
    } else if (c == '\n' || (c >= 0x20 && c != 0x7F)) {
      *out += static_cast<char>(c);
    } else {
      *out += "\\x";
      *out += kHex[c >> 4];
      *out += kHex[c & 0xF];
    }
  }
}

}  // namespace

int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type) {
  // What the program has written is in the registry before anyone reads
  // about it.
  FlushPendingWrites();
  if (RecordMessage(owner, text, caption, type))
    return kIdOk;
  std::string out;
  AppendVisible(caption, &out);
  out += '\n';
  AppendVisible(MessageLocationPrefix(), &out);
  AppendVisible(text, &out);
  out += '\n';
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
