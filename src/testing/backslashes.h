// File names as the program's command line carries them.
#ifndef BREVLIN_TESTING_BACKSLASHES_H_
#define BREVLIN_TESTING_BACKSLASHES_H_

#include <string>

namespace testing_support {

// `path` with every "/" turned into "\": the form in which names travel on
// the command line (where "/" ends an option's value) and in which the
// platform answers full paths on every system.
std::string Backslashes(std::string path);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_BACKSLASHES_H_
