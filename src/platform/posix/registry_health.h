// Whether the registry calls of this process met a store that could not be
// used as a whole, as opposed to one key refused: the program's exit status
// tells the two apart.
#ifndef BREVLIN_PLATFORM_POSIX_REGISTRY_HEALTH_H_
#define BREVLIN_PLATFORM_POSIX_REGISTRY_HEALTH_H_

#include "platform/status.h"

namespace plat {
namespace posix {

enum class StoreTrouble {
  kNone,
  kBusy,         // another process held the store too long
  kUnavailable,  // read-only, full, damaged, not a store, or not to be opened
};

// The worst trouble that a registry call of this process has met so far.
StoreTrouble RegistryStoreTrouble();

// Looks at the answer of a registry call and remembers the trouble it
// shows; answers `status` unchanged.
Status WatchRegistryStatus(Status status);

}  // namespace posix
}  // namespace plat

#endif  // BREVLIN_PLATFORM_POSIX_REGISTRY_HEALTH_H_
