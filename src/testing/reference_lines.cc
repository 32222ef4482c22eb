#include "testing/reference_lines.h"

namespace testing_support {

// The line rules, byte by byte, as plainly as they can be written: the
// reader's block-wise scanning must agree with this on every input.
Lines ReferenceLines(std::string_view data) {
  Lines lines;
  std::size_t i = 0;
  const std::size_t n = data.size();
  while (i < n && data[i] != '\x1a') {
    std::string line;
    bool ended = false;
    while (i < n) {
      char c = data[i];
      if (c == '\n') {
        ++i;
        break;
      }
      if (c == '\r') {
        ++i;
        if (i < n && data[i] == '\n') {
          ++i;
          break;
        }
        continue;
      }
      if (c == '\x1a') {
        ++i;
        while (i < n && data[i] != '\n' && data[i] != '\x1a')
          ++i;
        if (i < n && data[i] == '\x1a')
          ended = true;
        if (i < n)
          ++i;
        break;
      }
      line.push_back(c);
      ++i;
    }
    lines.push_back(line);
    if (ended)
      break;
  }
  return lines;
}

}  // namespace testing_support
