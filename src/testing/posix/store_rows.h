// Every row of a store file's keys and values, for tests that compare a store
// row for row before and after an upgrade.
#ifndef BREVLIN_TESTING_POSIX_STORE_ROWS_H_
#define BREVLIN_TESTING_POSIX_STORE_ROWS_H_

#include <string>
#include <vector>

namespace testing_support {

// The rows of keys and values, with ids, parents, names as stored, flags,
// types and data, in id order; the tables of a 1.0 store (`old_tables`)
// need their old collation to be read. Empty when the file cannot be read.
std::vector<std::string> StoreRows(const std::string& path, bool old_tables);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_POSIX_STORE_ROWS_H_
