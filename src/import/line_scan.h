// Finding the bytes that end or cut a line of a configuration file.
//
// Lines are short and files long: these are the reader's inner loops. They
// look at 16 bytes at a time where the processor allows.
#ifndef BREVLIN_IMPORT_LINE_SCAN_H_
#define BREVLIN_IMPORT_LINE_SCAN_H_

#include <cstdint>

// Bit i is set when p[i] is LF, CR or Ctrl-Z, for i from 0 to 63. Reads
// exactly 64 bytes.
std::uint64_t LineBreakMask64(const char* p);

// Bit i is set when p[i] is a tab, for i from 0 to 15. Reads exactly 16 bytes.
unsigned TabMask16(const char* p);

// The first LF, CR or Ctrl-Z in [begin, end), or end when there is none.
const char* FindLineBreak(const char* begin, const char* end);

// The first tab in [begin, end), or end.
const char* FindTab(const char* begin, const char* end);

// The index of the lowest set bit; `bits` must not be 0.
inline unsigned LowestBit(std::uint64_t bits) {
  return static_cast<unsigned>(__builtin_ctzll(bits));
}

#endif  // BREVLIN_IMPORT_LINE_SCAN_H_
