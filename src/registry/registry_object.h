// The registry object: one root key and at most one open key below it.
#ifndef BREVLIN_REGISTRY_REGISTRY_OBJECT_H_
#define BREVLIN_REGISTRY_REGISTRY_OBJECT_H_

#include <cstdint>
#include <string>

#include "common/object.h"
#include "platform/registry.h"

// Holds a root key and at most one open key below it, and writes and reads
// values in the open key. It owns the open key's handle and releases it on
// every path. Value writes and reads that fail raise ERegistryException; a
// key that cannot be opened and a value that cannot be deleted answer false.
class TRegistry : public TObject {
 public:
  // Root HKEY_CURRENT_USER, full access, deferred flushing, no key open.
  TRegistry();
  // Closes the open key as ClosePath does.
  ~TRegistry() override;

  plat::RegKey KeyHandle() const { return key_handle_; }
  plat::RegKey Root() const { return root_; }
  bool DeferFlush() const { return defer_flush_; }
  void SetDeferFlush(bool defer_flush) { defer_flush_ = defer_flush; }
  // The open key's path below Root as OpenPath formed it; empty with no key open.
  const std::string& KeyPath() const { return key_path_; }
  std::uint32_t AccessMask() const { return access_mask_; }

  // Makes `root` the root key; a different root closes the open key, the
  // current one changes nothing.
  void SelectRoot(plat::RegKey root);

  // Opens, or with `may_create` creates, the key at `path`. A path that
  // begins with one backslash starts at Root; any other path starts at the
  // open key, or at Root when none is open. On success the new key replaces
  // the open one; on failure nothing changes.
  bool OpenPath(const std::string& path, bool may_create);

  // Closes the open key, flushing it first unless DeferFlush.
  void ClosePath();

  void PutText(const std::string& name, const std::string& value);  // REG_SZ
  void PutDword(const std::string& name, std::int32_t value);       // REG_DWORD
  // REG_BINARY of `count` bytes from `data`; the caller keeps the data.
  void PutBytes(const std::string& name, const std::uint8_t* data, std::int32_t count);
  std::int32_t GetDword(const std::string& name);
  bool RemoveValue(const std::string& name);

 private:
  void StoreValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size);

  plat::RegKey key_handle_ = plat::kNullKey;
  plat::RegKey root_ = plat::kHkeyCurrentUser;
  bool defer_flush_ = true;
  std::string key_path_;
  std::uint32_t access_mask_ = plat::kKeyAllAccess;
};

#endif  // BREVLIN_REGISTRY_REGISTRY_OBJECT_H_
