// Registry helpers for tests: a clean registry for each test, and ways to
// look at and prepare keys that do not go through the code under test.
//
// On Linux they use the registry store's own operations; on Windows they use
// Win32 registry calls beyond the seven that the program uses.
#ifndef BREVLIN_TESTING_REGISTRY_FIXTURE_H_
#define BREVLIN_TESTING_REGISTRY_FIXTURE_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/registry.h"

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

// A key opened or created through the platform's registry functions, closed
// again when the holder goes out of scope (or at Close()).
class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() { Close(); }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  // Each closes the key held before.
  plat::Status Open(plat::RegKey base, const std::string& path,
                    std::uint32_t access = plat::kKeyAllAccess) {
    Close();
    return plat::RegOpenKeyExA(base, path.c_str(), 0, access, &key_);
  }
  plat::Status Create(plat::RegKey base, const std::string& path,
                      std::uint32_t access = plat::kKeyAllAccess,
                      std::uint32_t* disposition = nullptr) {
    Close();
    return plat::RegCreateKeyExA(base, path.c_str(), 0, nullptr, 0, access, nullptr, &key_,
                                 disposition);
  }
  plat::Status Close() {
    plat::Status status = key_ ? plat::RegCloseKey(key_) : plat::kErrorSuccess;
    key_ = plat::kNullKey;
    return status;
  }
  plat::RegKey get() const { return key_; }

 private:
  plat::RegKey key_ = plat::kNullKey;
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

bool KeyExists(plat::RegKey root, const std::string& path);
std::optional<StoredValue> ReadValue(plat::RegKey root, const std::string& path,
                                     const std::string& name);
// In enumeration order.
std::vector<std::string> ValueNames(plat::RegKey root, const std::string& path);
std::vector<std::string> SubkeyNames(plat::RegKey root, const std::string& path);
// Refuses write access to the key and below.
bool ProtectKey(plat::RegKey root, const std::string& path);
// The key then opens with full access, but refuses value writes; answers
// false where the platform cannot do that.
bool LockKeyValues(plat::RegKey root, const std::string& path);
bool DeleteKeyTree(plat::RegKey root, const std::string& path);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_REGISTRY_FIXTURE_H_
