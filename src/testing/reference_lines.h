// A plain model of the line rules, for tests and fuzzing.
#ifndef BREVLIN_TESTING_REFERENCE_LINES_H_
#define BREVLIN_TESTING_REFERENCE_LINES_H_

#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

using Lines = std::vector<std::string>;

// The lines of `data` by the reader's rules, worked out one byte at a time.
Lines ReferenceLines(std::string_view data);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_REFERENCE_LINES_H_
