// Files and folders for tests, removed again when the test binary ends.
#ifndef BREVLIN_TESTING_TEMP_FILES_H_
#define BREVLIN_TESTING_TEMP_FILES_H_

#include <string>
#include <string_view>

namespace testing_support {

// A new, empty folder of this test run. The name ends without a separator.
std::string NewTempDir();

// Writes `contents` byte for byte to a new file in a new folder of this run
// and answers its full name.
std::string WriteTempFile(std::string_view contents, const std::string& file_name = "file.cfg");

// The bytes of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Joins a folder and a name with the platform's separator.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_TEMP_FILES_H_
