// Registry helpers for tests: those of registry_contents.h, and a key handle
// that goes through the platform's registry functions.
#ifndef BREVLIN_TESTING_REGISTRY_FIXTURE_H_
#define BREVLIN_TESTING_REGISTRY_FIXTURE_H_

#include <cstdint>
#include <string>

#include "platform/registry.h"
#include "testing/registry_contents.h"

namespace testing_support {

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

}  // namespace testing_support

#endif  // BREVLIN_TESTING_REGISTRY_FIXTURE_H_
