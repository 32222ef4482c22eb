#include "platform/registry.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/win32/registry_calls.h"
#include "platform/win32/standard_error.h"
#include "platform/win32/windows_wrapper.h"

// Every registry call is a round trip to the system (under Wine, to the Wine
// server), and the importer opens each key twice in a row: its write check
// opens or creates the key and closes it, and then the key is opened for the
// values. So a key the caller closes stays open here for a moment: an open or
// create of the same path below the same root key with the same access that
// follows soon answers that handle without a call. The keys kept are few (the
// most recently closed ones) and kept briefly; the oldest is closed for real
// when another comes, and all of them at the end of the process.
//
// What the caller sees stays what the registry would answer: a kept handle
// leads to the key the caller opened, with the rights it was opened with, and
// a create answered from it says the key existed. A handle that the caller
// has closed is invalid to it, kept or not. Only a change that another
// program makes to the key within that moment (deleting it, changing its
// access list) is seen as if it had come just after the second open.

namespace plat {

namespace {

HKEY AsHkey(RegKey key) {
  return reinterpret_cast<HKEY>(key);
}

bool IsRootKey(RegKey key) {
  return key == kHkeyClassesRoot || key == kHkeyCurrentUser || key == kHkeyLocalMachine ||
         key == kHkeyUsers || key == kHkeyCurrentConfig;
}

struct Counters {
  std::atomic<std::uint64_t> open{0};
  std::atomic<std::uint64_t> create{0};
  std::atomic<std::uint64_t> set_value{0};
  std::atomic<std::uint64_t> query_value{0};
  std::atomic<std::uint64_t> delete_value{0};
  std::atomic<std::uint64_t> flush{0};
  std::atomic<std::uint64_t> close{0};
};

Counters& Counted() {
  static Counters counters;
  return counters;
}

// The key a handle was opened for.
struct KeyName {
  RegKey root;
  std::string path;
  std::uint32_t access;
  bool operator==(const KeyName& other) const {
    return root == other.root && access == other.access && path == other.path;
  }
};

Status CloseForReal(RegKey key) {
  ++Counted().close;
  return static_cast<Status>(::RegCloseKey(AsHkey(key)));
}

// The handles that the caller holds (opened here below a root key) and those
// it has closed that are kept open, oldest first, with the time they were
// closed.
class KeptKeys {
 public:
  static KeptKeys& Get() {
    static KeptKeys keys;
    return keys;
  }

  ~KeptKeys() { CloseAll(); }

  // A kept handle for `name`, handed back to the caller; null when none.
  // Handles kept for longer than win32::kKeptMilliseconds are closed.
  RegKey Take(const KeyName& name) {
    std::vector<RegKey> expired;
    RegKey taken = kNullKey;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const std::uint64_t now = ::GetTickCount64();
      auto stale = std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) {
        return now - k.closed_at <= win32::kKeptMilliseconds;
      });
      for (auto it = kept_.begin(); it != stale; ++it)
        expired.push_back(it->key);
      kept_.erase(kept_.begin(), stale);
      for (auto it = kept_.end(); it != kept_.begin();) {
        --it;
        if (it->name == name) {
          taken = it->key;
          in_use_.emplace(taken, std::move(it->name));
          kept_.erase(it);
          break;
        }
      }
    }
    for (RegKey key : expired)
      CloseForReal(key);
    return taken;
  }

  void Opened(RegKey key, KeyName name) {
    std::lock_guard<std::mutex> lock(mutex_);
    in_use_[key] = std::move(name);
  }

  // The caller's close of `key`. Answers true when it was answered here
  // (`*status` set), with `*to_close` a handle to close for real or null;
  // false when the key is none of these and its close goes to the system.
  bool Close(RegKey key, Status* status, RegKey* to_close) {
    *to_close = kNullKey;
    std::lock_guard<std::mutex> lock(mutex_);
    auto used = in_use_.find(key);
    if (used != in_use_.end()) {
      kept_.push_back(Kept{key, std::move(used->second), ::GetTickCount64()});
      in_use_.erase(used);
      if (kept_.size() > win32::kKeptKeys) {
        *to_close = kept_.front().key;
        kept_.erase(kept_.begin());
      }
      *status = kErrorSuccess;
      return true;
    }
    if (IsKeptLocked(key)) {
      *status = kErrorInvalidHandle;
      return true;
    }
    return false;
  }

  // Whether the caller has closed `key` while it is kept open here.
  bool IsKept(RegKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return IsKeptLocked(key);
  }

  // Closes the kept handles; those the caller holds now are closed for real
  // when it closes them.
  void CloseAll() {
    std::vector<Kept> closing;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing.swap(kept_);
      in_use_.clear();
    }
    for (const Kept& kept : closing)
      CloseForReal(kept.key);
  }

 private:
  struct Kept {
    RegKey key;
    KeyName name;
    std::uint64_t closed_at;  // GetTickCount64
  };

  // The counters are made first, so that they outlive the closes at exit.
  KeptKeys() { Counted(); }

  bool IsKeptLocked(RegKey key) const {
    return std::any_of(kept_.begin(), kept_.end(), [key](const Kept& k) { return k.key == key; });
  }

  std::mutex mutex_;
  std::unordered_map<RegKey, KeyName> in_use_;
  std::vector<Kept> kept_;
};

// Whether an open below `key` of `sub_key` may be answered by, and kept as,
// a handle of the same name: below a root key, to a key other than the root
// itself, with a handle asked for.
bool MayKeep(RegKey key, const char* sub_key, const RegKey* result) {
  return result != nullptr && IsRootKey(key) && sub_key != nullptr && sub_key[0] != '\0';
}

}  // namespace

Status RegOpenKeyExA(RegKey key, const char* sub_key, std::uint32_t options, std::uint32_t access,
                     RegKey* result) {
  const bool may_keep = options == 0 && MayKeep(key, sub_key, result);
  if (may_keep) {
    const RegKey kept = KeptKeys::Get().Take(KeyName{key, sub_key, access});
    if (kept != kNullKey) {
      *result = kept;
      return kErrorSuccess;
    }
  }
  HKEY opened = nullptr;
  ++Counted().open;
  LONG status = ::RegOpenKeyExA(AsHkey(key), sub_key, options, access, result ? &opened : nullptr);
  if (result)
    *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(opened) : kNullKey;
  if (may_keep && status == ERROR_SUCCESS)
    KeptKeys::Get().Opened(*result, KeyName{key, sub_key, access});
  return static_cast<Status>(status);
}

Status RegCreateKeyExA(RegKey key, const char* sub_key, std::uint32_t reserved,
                       const char* key_class, std::uint32_t options, std::uint32_t access,
                       const void* security_attributes, RegKey* result,
                       std::uint32_t* disposition) {
  // A create that would set something on a new key (a class, an access list,
  // options) always goes to the system.
  const bool may_keep = reserved == 0 && (key_class == nullptr || key_class[0] == '\0') &&
                        options == kRegOptionNonVolatile && security_attributes == nullptr &&
                        MayKeep(key, sub_key, result);
  if (may_keep) {
    const RegKey kept = KeptKeys::Get().Take(KeyName{key, sub_key, access});
    if (kept != kNullKey) {
      *result = kept;
      if (disposition)
        *disposition = kRegOpenedExistingKey;
      return kErrorSuccess;
    }
  }
  HKEY created = nullptr;
  DWORD how = 0;
  ++Counted().create;
  LONG status = ::RegCreateKeyExA(
      AsHkey(key), sub_key, reserved, const_cast<char*>(key_class), options, access,
      static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(security_attributes)),
      result ? &created : nullptr, disposition ? &how : nullptr);
  if (result)
    *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(created) : kNullKey;
  if (disposition && status == ERROR_SUCCESS)
    *disposition = how;
  if (may_keep && status == ERROR_SUCCESS)
    KeptKeys::Get().Opened(*result, KeyName{key, sub_key, access});
  return static_cast<Status>(status);
}

Status RegSetValueExA(RegKey key, const char* value_name, std::uint32_t reserved,
                      std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  if (KeptKeys::Get().IsKept(key))
    return kErrorInvalidHandle;
  ++Counted().set_value;
  return static_cast<Status>(
      ::RegSetValueExA(AsHkey(key), value_name, reserved, type, data, static_cast<DWORD>(size)));
}

Status RegQueryValueExA(RegKey key, const char* value_name, std::uint32_t* reserved,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  if (KeptKeys::Get().IsKept(key))
    return kErrorInvalidHandle;
  // DWORD and std::uint32_t are different types to the compiler; the values
  // pass through locals.
  DWORD reserved_word = reserved ? *reserved : 0;
  DWORD type_word = 0;
  DWORD size_word = size ? *size : 0;
  ++Counted().query_value;
  LONG status = ::RegQueryValueExA(AsHkey(key), value_name, reserved ? &reserved_word : nullptr,
                                   type ? &type_word : nullptr, data, size ? &size_word : nullptr);
  if (type && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA))
    *type = type_word;
  if (size && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA))
    *size = size_word;
  return static_cast<Status>(status);
}

Status RegDeleteValueA(RegKey key, const char* value_name) {
  if (KeptKeys::Get().IsKept(key))
    return kErrorInvalidHandle;
  ++Counted().delete_value;
  return static_cast<Status>(::RegDeleteValueA(AsHkey(key), value_name));
}

Status RegFlushKey(RegKey key) {
  if (KeptKeys::Get().IsKept(key))
    return kErrorInvalidHandle;
  ++Counted().flush;
  return static_cast<Status>(::RegFlushKey(AsHkey(key)));
}

Status RegCloseKey(RegKey key) {
  Status status = kErrorSuccess;
  RegKey to_close = kNullKey;
  if (!KeptKeys::Get().Close(key, &status, &to_close))
    return CloseForReal(key);
  if (to_close != kNullKey)
    CloseForReal(to_close);
  return status;
}

namespace win32 {

RegistryCallCounts CountedRegistryCalls() {
  const Counters& c = Counted();
  RegistryCallCounts counts;
  counts.open = c.open;
  counts.create = c.create;
  counts.set_value = c.set_value;
  counts.query_value = c.query_value;
  counts.delete_value = c.delete_value;
  counts.flush = c.flush;
  counts.close = c.close;
  return counts;
}

void CloseKeptKeys() {
  KeptKeys::Get().CloseAll();
}

void EndRegistryUse() {
  CloseKeptKeys();
  char flag[8] = {0};
  const DWORD length = ::GetEnvironmentVariableA("BREVLIN_CALL_STATS", flag, sizeof(flag));
  if (length == 0)
    return;
  const RegistryCallCounts counts = CountedRegistryCalls();
  const std::string line =
      "registry calls: " + std::to_string(counts.Total()) + " (open " +
      std::to_string(counts.open) + ", create " + std::to_string(counts.create) + ", set value " +
      std::to_string(counts.set_value) + ", query value " + std::to_string(counts.query_value) +
      ", delete value " + std::to_string(counts.delete_value) + ", flush " +
      std::to_string(counts.flush) + ", close " + std::to_string(counts.close) + ")\n";
  WriteStandardError(line);
}

}  // namespace win32

// The Windows registry writes back in its own time: nothing is held here.
void FlushPendingWrites() {}

Status FlushWritesToDisk() {
  return kErrorSuccess;
}

Status RegistryState() {
  return kErrorSuccess;
}

}  // namespace plat
