#include "common/globals.h"

namespace {

// Closes a key on every way out of the probe.
class KeyCloser {
 public:
  explicit KeyCloser(plat::RegKey key) : key_(key) {}
  ~KeyCloser() { plat::RegCloseKey(key_); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  plat::RegKey key_;
};

}  // namespace

bool CanWriteRegKey(const std::string& path, plat::RegKey root) {
  plat::RegKey key = plat::kNullKey;
  if (plat::RegOpenKeyExA(root, path.c_str(), 0, plat::kKeyAllAccess, &key) ==
      plat::kErrorSuccess) {
    KeyCloser closer(key);
    const std::uint8_t zero[4] = {0, 0, 0, 0};
    if (plat::RegSetValueExA(key, kProbeValueName, 0, plat::kRegDword, zero, sizeof(zero)) !=
        plat::kErrorSuccess) {
      return false;
    }
    plat::RegDeleteValueA(key, kProbeValueName);
    return true;
  }
  // The key is missing or refuses full access; a create answers whether it
  // may be made (or opened) for writing.
  std::uint32_t disposition = 0;
  if (plat::RegCreateKeyExA(root, path.c_str(), 0, nullptr, plat::kRegOptionNonVolatile,
                            plat::kKeyAllAccess, nullptr, &key,
                            &disposition) != plat::kErrorSuccess) {
    return false;
  }
  plat::RegCloseKey(key);
  return true;
}
