#include "testing/posix/store_key.h"

#include "regdefs/value_types.h"

namespace testing_support {

bool StoreKeyTakesWrites(regdefs::RegKey root, const std::string& path) {
  constexpr char kProbe[] = "store-test-probe";
  ScopedStoreKey key;
  if (key.Open(root, path) == regdefs::kErrorSuccess) {
    const std::uint8_t zero[4] = {0, 0, 0, 0};
    if (regstore::SetValue(key.get(), kProbe, regdefs::kRegDword, zero, 4) !=
        regdefs::kErrorSuccess) {
      return false;
    }
    regstore::DeleteValue(key.get(), kProbe);
    return true;
  }
  return key.Create(root, path) == regdefs::kErrorSuccess;
}

}  // namespace testing_support
