// Store tests' handles: a key opened or created through the store's own
// functions, and the importer's write check made of the same calls. They
// need nothing but the store and the registry's vocabulary.
#ifndef BREVLIN_TESTING_POSIX_STORE_KEY_H_
#define BREVLIN_TESTING_POSIX_STORE_KEY_H_

#include <cstdint>
#include <string>

#include "regdefs/keys.h"
#include "regdefs/status.h"
#include "regstore/regstore.h"

namespace testing_support {

// A key of the store, closed again when the holder goes out of scope (or at
// Close()).
class ScopedStoreKey {
 public:
  ScopedStoreKey() = default;
  ~ScopedStoreKey() { Close(); }
  ScopedStoreKey(const ScopedStoreKey&) = delete;
  ScopedStoreKey& operator=(const ScopedStoreKey&) = delete;

  // Each closes the key held before.
  regdefs::Status Open(regdefs::RegKey base, const std::string& path,
                       std::uint32_t access = regdefs::kKeyAllAccess) {
    Close();
    return regstore::OpenKey(base, path.c_str(), access, &key_);
  }
  regdefs::Status Create(regdefs::RegKey base, const std::string& path,
                         std::uint32_t access = regdefs::kKeyAllAccess,
                         std::uint32_t* disposition = nullptr) {
    Close();
    return regstore::CreateKey(base, path.c_str(), access, &key_, disposition);
  }
  regdefs::Status Close() {
    regdefs::Status status = key_ ? regstore::CloseKey(key_) : regdefs::kErrorSuccess;
    key_ = regdefs::kNullKey;
    return status;
  }
  regdefs::RegKey get() const { return key_; }

 private:
  regdefs::RegKey key_ = regdefs::kNullKey;
};

// Whether the store lets the key at `path` below `root` be written, asked as
// the importer asks before it writes a key: open it with all rights and set
// and delete a value there, or, when it is missing or refuses all rights,
// create it.
bool StoreKeyTakesWrites(regdefs::RegKey root, const std::string& path);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_POSIX_STORE_KEY_H_
