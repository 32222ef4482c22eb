// The registry store as the regstore command uses it: keys named by a root
// key and a path, walked key by key with their values, and opened for
// changes through the registry functions.
#ifndef BREVLIN_REGSTORE_TOOL_STORE_ACCESS_H_
#define BREVLIN_REGSTORE_TOOL_STORE_ACCESS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "regstore/regstore.h"

namespace regstore_tool {

using plat::kErrorAccessDenied;
using plat::kErrorBusy;
using plat::kErrorDiskFull;
using plat::kErrorFileNotFound;
using plat::kErrorSuccess;
using plat::kRegBinary;
using plat::kRegDword;
using plat::kRegExpandSz;
using plat::kRegMultiSz;
using plat::kRegNone;
using plat::kRegQword;
using plat::kRegSz;
using plat::RegKey;
using plat::Status;
using regstore::CommitToDisk;
using regstore::ConnectStore;
using regstore::DiscardChanges;
using regstore::HoldChanges;
using regstore::kKeyProtected;
using regstore::kKeyValuesLocked;
using regstore::StoreIsReadOnly;
using regstore::StorePath;

// A key named on the command line or in a registry file.
struct KeyName {
  RegKey root = plat::kNullKey;
  const char* root_name = "";
  // Below the root, without empty names; as the store has it once looked up.
  std::string path;
  // The full name with the path in the letter case the user wrote, for
  // messages: the user should find in them the name they gave.
  std::string written;

  std::string FullName() const { return FullNameAt(path); }
  const std::string& AsWritten() const { return written; }
  // The full name of the key at `below_root` under the same root.
  std::string FullNameAt(std::string_view below_root) const;
  KeyName WithPath(const std::string& below_root) const;
  KeyName Child(const std::string& name) const;
};

// Splits "HKCU\Software\X" (any root's full or short name, in any letter
// case) into a root key and a path. False when the name begins with no root
// key's name.
bool SplitKeyName(const std::string& text, KeyName* key);

// Looks a key up; on success its path becomes the one the store has, with
// the case of each name as created.
Status LookUpKey(KeyName* key);

using ValueView = regstore::StoreValueView;
using KeyVisitor = regstore::StoreVisitor;

// Visits the key and its values in the order they were created, then either
// the names of its subkeys or, with `recursive`, each subkey in turn in the
// order of their names, depth first; as it reads.
Status WalkKey(const KeyName& key, bool recursive, KeyVisitor* visitor);

// One key's values and subkeys, read before anything is written: the walk
// reads in one snapshot that a write would end.
class KeyContents : public KeyVisitor {
 public:
  struct Item {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  bool Key(const std::string&) override { return true; }
  bool Value(const ValueView& value) override {
    values.push_back({std::string(value.name), value.type,
                      std::vector<std::uint8_t>(value.data, value.data + value.size)});
    return true;
  }
  bool Subkey(std::string_view name) override {
    subkeys.emplace_back(name);
    return true;
  }
  std::vector<Item> values;
  std::vector<std::string> subkeys;
};

Status DeleteKeyTree(const KeyName& key);
Status ChangeKeyFlags(const KeyName& key, std::uint32_t set, std::uint32_t clear);

// A key opened for changes, closed by Close or when the object goes. Its
// changes are committed with the others of the command (CommitToDisk).
class OpenedKey {
 public:
  OpenedKey() = default;
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  // Only on a path that already reports a failure is the answer not needed.
  ~OpenedKey() { static_cast<void>(Close()); }

  Status Create(const KeyName& key);
  Status Open(const KeyName& key);
  bool HasValue(const std::string& name);
  Status SetValue(const std::string& name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data);
  Status DeleteValue(const std::string& name);
  [[nodiscard]] Status Close();

 private:
  RegKey handle_ = plat::kNullKey;
  bool owned_ = false;
};

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_STORE_ACCESS_H_
