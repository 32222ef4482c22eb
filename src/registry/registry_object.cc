#include "registry/registry_object.h"

#include "common/exceptions.h"

namespace {

std::string NamedMessage(const char* before, const std::string& name) {
  std::string message = before;
  message += name;
  message += '\'';
  return message;
}

}  // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() {
  ClosePath();
}

void TRegistry::SelectRoot(plat::RegKey root) {
  if (root == root_)
    return;
  root_ = root;
  ClosePath();
}

bool TRegistry::OpenPath(const std::string& path, bool may_create) {
  std::string sub_path = path;
  bool relative = true;
  if (!sub_path.empty() && sub_path[0] == '\\') {
    // Only the first backslash marks the path as absolute; a second one is
    // passed on as part of the path.
    sub_path.erase(0, 1);
    relative = false;
  }
  const bool below_open_key = relative && key_handle_ != plat::kNullKey;
  const plat::RegKey base = below_open_key ? key_handle_ : root_;
  // The new path is formed before the key is opened, so that nothing can fail
  // between obtaining the new handle and storing it.
  std::string new_path = below_open_key ? key_path_ + '\\' + sub_path : sub_path;

  plat::RegKey opened = plat::kNullKey;
  plat::Status status;
  if (may_create && !sub_path.empty()) {
    std::uint32_t disposition = 0;
    status = plat::RegCreateKeyExA(base, sub_path.c_str(), 0, nullptr, plat::kRegOptionNonVolatile,
                                   access_mask_, nullptr, &opened, &disposition);
  } else {
    status = plat::RegOpenKeyExA(base, sub_path.c_str(), 0, access_mask_, &opened);
  }
  if (status != plat::kErrorSuccess)
    return false;

  ClosePath();
  key_handle_ = opened;
  key_path_.swap(new_path);
  return true;
}

void TRegistry::ClosePath() {
  if (key_handle_ == plat::kNullKey)
    return;
  if (!defer_flush_)
    plat::RegFlushKey(key_handle_);
  plat::RegCloseKey(key_handle_);
  key_handle_ = plat::kNullKey;
  key_path_.clear();
}

void TRegistry::StoreValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                           std::uint32_t size) {
  if (plat::RegSetValueExA(key_handle_, name.c_str(), 0, type, data, size) != plat::kErrorSuccess) {
    throw ERegistryException(NamedMessage("Failed to set data for '", name));
  }
}

void TRegistry::PutText(const std::string& name, const std::string& value) {
  // c_str() supplies the terminating NUL that the stored text includes.
  StoreValue(name, plat::kRegSz, reinterpret_cast<const std::uint8_t*>(value.c_str()),
             static_cast<std::uint32_t>(value.size() + 1));
}

void TRegistry::PutDword(const std::string& name, std::int32_t value) {
  const std::uint32_t bits = static_cast<std::uint32_t>(value);
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
      static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
  StoreValue(name, plat::kRegDword, bytes, sizeof(bytes));
}

void TRegistry::PutBytes(const std::string& name, const std::uint8_t* data, std::int32_t count) {
  // A negative count would reach the platform as a size of about 4 GB; it
  // is a failed write instead.
  if (count < 0)
    throw ERegistryException(NamedMessage("Failed to set data for '", name));
  StoreValue(name, plat::kRegBinary, data, static_cast<std::uint32_t>(count));
}

std::int32_t TRegistry::GetDword(const std::string& name) {
  // Bytes that a shorter value does not deliver read as 0.
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  std::uint32_t type = plat::kRegNone;
  std::uint32_t size = sizeof(bytes);
  if (plat::RegQueryValueExA(key_handle_, name.c_str(), nullptr, &type, bytes, &size) !=
      plat::kErrorSuccess) {
    throw ERegistryException(NamedMessage("Failed to get data for '", name));
  }
  if (type != plat::kRegDword) {
    throw ERegistryException(NamedMessage("Invalid data type for '", name));
  }
  const std::uint32_t bits =
      static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
      static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return static_cast<std::int32_t>(bits);
}

bool TRegistry::RemoveValue(const std::string& name) {
  return plat::RegDeleteValueA(key_handle_, name.c_str()) == plat::kErrorSuccess;
}
