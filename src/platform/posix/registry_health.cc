// Tells a store in trouble (busy, full, damaged, read-only) from a key that
// refuses a write, from the status codes of the registry functions.
#include "platform/posix/registry_health.h"

#include "regstore/regstore.h"

namespace plat {

namespace posix {

namespace {

StoreTrouble trouble = StoreTrouble::kNone;

}  // namespace

StoreTrouble RegistryStoreTrouble() {
  return trouble;
}

Status WatchRegistryStatus(Status status) {
  switch (status) {
    // The answers of a store that works.
    case kErrorSuccess:
    case kErrorFileNotFound:
    case kErrorMoreData:
    case kErrorInvalidParameter:
    case kErrorInvalidHandle:
    case kErrorBadPathname:
    case kErrorKeyDeleted:
    case kErrorNoAccess:
      break;
    case kErrorBusy:
      if (trouble == StoreTrouble::kNone)
        trouble = StoreTrouble::kBusy;
      break;
    case kErrorBadDb:
    case kErrorDiskFull:
    case kErrorIoDevice:
    case kErrorNotEnoughMemory:
      trouble = StoreTrouble::kUnavailable;
      break;
    default:
      // A refusal is the key's own unless the store refuses everything: a
      // read-only file, or a store that does not open at all.
      if (regstore::StoreIsReadOnly() || regstore::ConnectStore(nullptr) != kErrorSuccess)
        trouble = StoreTrouble::kUnavailable;
      break;
  }
  return status;
}

}  // namespace posix

}  // namespace plat
