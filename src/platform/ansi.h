// Stepping through and upper-casing 8-bit text of the system's ANSI code page.
#ifndef BREVLIN_PLATFORM_ANSI_H_
#define BREVLIN_PLATFORM_ANSI_H_

#include <cstddef>

namespace plat {

// The character after the one at `p` in NUL-terminated text: one byte on, or
// two for a double-byte character of the code page, so that a trail byte is
// never taken for a character of its own. At the terminating NUL, `p` itself.
// Elsewhere than on Windows every character is one byte: the code page there
// is UTF-8, whose lead and continuation bytes never equal an ASCII character.
const char* CharNextA(const char* p);

// Upper-cases `length` bytes of `text` in place by the user's locale; the
// length of the text never changes. Elsewhere than on Windows only the ASCII
// letters change.
void CharUpperBuffA(char* text, std::size_t length);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_ANSI_H_
