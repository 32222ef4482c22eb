// What tests need to look at and prepare the registry without going through
// the code under test: a clean registry for each test, and reading, protecting
// and deleting keys directly.
//
// Only the registry's vocabulary is needed to use them, so the store's own
// tests use them too. On Linux they use the registry store's own operations;
// on Windows they use Win32 registry calls beyond the seven that the program
// uses.
#ifndef BREVLIN_TESTING_REGISTRY_CONTENTS_H_
#define BREVLIN_TESTING_REGISTRY_CONTENTS_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "regdefs/keys.h"

namespace testing_support {

// Gives the calling test a clean registry for its lifetime. Linux: the
// process's store is pointed at a new, empty store file (and back at the
// previous one afterwards). Windows: the test trees are deleted before and
// after: HKCU\Software\Mardovan, and the key "BrevlinTest" directly below
// each of the five roots and below HKCU\Software and HKLM\Software.
class ScopedTestRegistry {
 public:
  ScopedTestRegistry();
  ~ScopedTestRegistry();
  ScopedTestRegistry(const ScopedTestRegistry&) = delete;
  ScopedTestRegistry& operator=(const ScopedTestRegistry&) = delete;
  // The store file in use (empty on Windows).
  std::string StorePath() const;

 private:
  std::string store_path_;
  std::string previous_path_;
};

struct StoredValue {
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

inline bool operator==(const StoredValue& a, const StoredValue& b) {
  return a.type == b.type && a.data == b.data;
}

// Shows a value in test failures as its type and bytes.
void PrintTo(const StoredValue& value, std::ostream* os);

bool KeyExists(regdefs::RegKey root, const std::string& path);
std::optional<StoredValue> ReadValue(regdefs::RegKey root, const std::string& path,
                                     const std::string& name);
// In enumeration order.
std::vector<std::string> ValueNames(regdefs::RegKey root, const std::string& path);
std::vector<std::string> SubkeyNames(regdefs::RegKey root, const std::string& path);
// Refuses write access to the key and below.
bool ProtectKey(regdefs::RegKey root, const std::string& path);
// The key then opens with full access, but refuses value writes; answers
// false where the platform cannot do that.
bool LockKeyValues(regdefs::RegKey root, const std::string& path);
bool DeleteKeyTree(regdefs::RegKey root, const std::string& path);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_REGISTRY_CONTENTS_H_
