#include "testing/backslashes.h"

namespace testing_support {

std::string Backslashes(std::string path) {
  for (char& c : path) {
    if (c == '/')
      c = '\\';
  }
  return path;
}

}  // namespace testing_support
