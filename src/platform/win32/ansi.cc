#include "platform/ansi.h"

#include "platform/win32/windows_wrapper.h"

namespace plat {

const char* CharNextA(const char* p) {
  return ::CharNextA(p);
}

void CharUpperBuffA(char* text, std::size_t length) {
  // CharUpperBuffA takes a 32-bit length; longer text goes in parts, split
  // where a character begins.
  while (length > 0) {
    DWORD part = length > 0x10000000u ? 0x10000000u : static_cast<DWORD>(length);
    if (part < length) {
      const char* end = text;
      while (static_cast<std::size_t>(end - text) < part)
        end = ::CharNextA(end);
      part = static_cast<DWORD>(end - text);
    }
    ::CharUpperBuffA(text, part);
    text += part;
    length -= part;
  }
}

}  // namespace plat
