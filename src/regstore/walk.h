// Paths and key lookups: how a sub-path splits into key names, and the
// limits on names and depth. The lookups themselves (KeyLookup) are declared
// in key_lookup.h.
#ifndef BREVLIN_REGSTORE_WALK_H_
#define BREVLIN_REGSTORE_WALK_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "regdefs/status.h"

namespace regstore {

// Longest key name, in bytes (Wine's registry takes 256 characters and
// refuses 257 with ERROR_INVALID_PARAMETER), and the deepest key below a root
// key, in levels.
constexpr std::size_t kMaxKeyNameLength = 256;
constexpr std::size_t kMaxKeyDepth = 512;

// Splits a sub-path into key names. Empty names (from doubled or trailing
// backslashes) are skipped, as the Windows registry does; a leading backslash
// is refused unless `allow_leading_backslash`. A path of more names than any
// key can lie deep is refused before it costs more.
regdefs::Status SplitPath(std::string_view path, bool allow_leading_backslash,
                          std::vector<std::string_view>* names);

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_WALK_H_
