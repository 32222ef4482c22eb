// What the Windows registry functions keep between calls: the handles of keys
// the caller has closed but may open again soon, and a count of the calls
// that reached advapi32.
#ifndef BREVLIN_PLATFORM_WIN32_REGISTRY_CALLS_H_
#define BREVLIN_PLATFORM_WIN32_REGISTRY_CALLS_H_

#include <cstddef>
#include <cstdint>

namespace plat {
namespace win32 {

// How many closed keys stay open for a later open of the same key, and for
// how long at most.
constexpr std::size_t kKeptKeys = 8;
constexpr std::uint64_t kKeptMilliseconds = 100;

// The registry calls that reached advapi32 since the process started, by
// function.
struct RegistryCallCounts {
  std::uint64_t open = 0;
  std::uint64_t create = 0;
  std::uint64_t set_value = 0;
  std::uint64_t query_value = 0;
  std::uint64_t delete_value = 0;
  std::uint64_t flush = 0;
  std::uint64_t close = 0;
  std::uint64_t Total() const {
    return open + create + set_value + query_value + delete_value + flush + close;
  }
};
RegistryCallCounts CountedRegistryCalls();

// Closes every key that is kept open, and keeps none of those open now once
// they are closed; their next opens reach advapi32 again. For whoever changes
// keys behind the seven functions' back (deletes them, changes their access
// lists) and then expects the next open to see it.
void CloseKeptKeys();

// At the end of the process: closes the kept keys and, when the environment
// variable BREVLIN_CALL_STATS is set and not empty, writes the counts to
// standard error in one line.
void EndRegistryUse();

}  // namespace win32
}  // namespace plat

#endif  // BREVLIN_PLATFORM_WIN32_REGISTRY_CALLS_H_
