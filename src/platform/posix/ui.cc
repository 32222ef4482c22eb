#include "platform/ui.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "platform/message_recorder.h"
#include "platform/posix/linux_file_names.h"
#include "platform/posix/message_text.h"

namespace plat {
namespace posix {

namespace {

void AppendShown(const std::string& text, std::string* out) {
  const std::string::size_type end = text.find('\0');
  const std::string::size_type size = end == std::string::npos ? text.size() : end;
  for (std::string::size_type i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < size && text[i + 1] == '\n') {
      *out += '\n';
      ++i;
    } else if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
      // A message may hold names from a configuration file: a control byte
      // would reach the terminal as a command to it.
      static const char kHex[] = "0123456789ABCDEF";
      *out += "\\x";
      *out += kHex[c >> 4];
      *out += kHex[c & 0xF];
    } else {
      *out += static_cast<char>(c);
    }
  }
}

}  // namespace

std::string ConsoleMessage(const std::string& caption, const std::string& text) {
  std::string out;
  AppendShown(caption, &out);
  out += '\n';
  AppendShown(text, &out);
  out += '\n';
  return out;
}

}  // namespace posix

int MessageBoxA(Window owner, const std::string& text, const std::string& caption,
                std::uint32_t type) {
  if (RecordMessage(owner, text, caption, type))
    return kIdOk;
  // The file and line the message concerns come first on the text's line.
  const std::string out = posix::ConsoleMessage(caption, MessageLocationPrefix() + text);
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
