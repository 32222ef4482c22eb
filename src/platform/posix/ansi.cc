#include "platform/ansi.h"

namespace plat {

const char* CharNextA(const char* p) {
  return *p == '\0' ? p : p + 1;
}

void CharUpperBuffA(char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] >= 'a' && text[i] <= 'z')
      text[i] = static_cast<char>(text[i] - 'a' + 'A');
  }
}

}  // namespace plat
