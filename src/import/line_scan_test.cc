#include "import/line_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// The block-wise scans must find exactly what a byte-by-byte look finds, at
// every offset and length (the blocks are read unaligned, and the last bytes
// of a range fall outside any whole block).
TEST(LineScan, BlockwiseScansMatchBytewise) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', '\n', '\r', '\x1a', '\t', '\0', '\x8a', '\x9a', '\x0b', '\x1b'};
  for (int round = 0; round < 300; ++round) {
    std::string data(200, 'x');
    int specials = static_cast<int>(random() % 4);
    for (int i = 0; i < specials; ++i) {
      data[random() % data.size()] = alphabet[random() % sizeof(alphabet)];
    }
    std::size_t from = random() % 80;
    std::size_t to = from + random() % (data.size() - from + 1);
    const char* begin = data.data() + from;
    const char* end = data.data() + to;

    const char* expected_break = begin;
    while (expected_break < end && *expected_break != '\n' && *expected_break != '\r' &&
           *expected_break != '\x1a') {
      ++expected_break;
    }
    const char* expected_tab = begin;
    while (expected_tab < end && *expected_tab != '\t')
      ++expected_tab;
    ASSERT_EQ(FindLineBreak(begin, end), expected_break) << "round " << round;
    ASSERT_EQ(FindTab(begin, end), expected_tab) << "round " << round;

    if (data.size() - from >= 64) {
      std::uint64_t mask = 0;
      for (unsigned i = 0; i < 64; ++i) {
        char c = begin[i];
        if (c == '\n' || c == '\r' || c == '\x1a')
          mask |= std::uint64_t{1} << i;
      }
      ASSERT_EQ(LineBreakMask64(begin), mask) << "round " << round;
      unsigned tabs = 0;
      for (unsigned i = 0; i < 16; ++i) {
        if (begin[i] == '\t')
          tabs |= 1u << i;
      }
      ASSERT_EQ(TabMask16(begin), tabs) << "round " << round;
    }
  }
}

}  // namespace
