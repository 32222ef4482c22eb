// A throwaway registry for a dry run, and the names the registry holds.
#ifndef BREVLIN_PLATFORM_POSIX_SCRATCH_REGISTRY_H_
#define BREVLIN_PLATFORM_POSIX_SCRATCH_REGISTRY_H_

#include <string>
#include <vector>

#include "platform/registry.h"

namespace plat {
namespace posix {

// Points the registry calls of this process at a store of its own in a new
// temporary folder for as long as it lives: an empty store, or a copy of the
// store the process would use, as it is now (an empty one when there is none
// yet). Afterwards the process uses its store again, which nothing here has
// changed, and the folder is removed.
class ScratchRegistry {
 public:
  enum class Start { kEmpty, kCopyOfStore };
  explicit ScratchRegistry(Start start);
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  // Why the throwaway store could not be made; empty when it is in use.
  const std::string& Error() const { return error_; }

 private:
  std::string folder_;
  std::string previous_path_;
  std::string error_;
};

// The path of the key at `path` below `root` as the store holds it, each
// name in the case it was made with; false when there is no such key.
bool StoredKeyPath(RegKey root, const char* path, std::string* stored);

// Replaces each of `names`, names of values as a caller passed them to the
// key at `stored_path` below `root`, by the name of that value as the store
// holds it. A name with no such value is left as the registry calls take it.
void StoredValueNames(RegKey root, const std::string& stored_path, std::vector<std::string>* names);

}  // namespace posix
}  // namespace plat

#endif  // BREVLIN_PLATFORM_POSIX_SCRATCH_REGISTRY_H_
