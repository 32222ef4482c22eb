// How the registry store compares key and value names: without regard to
// ASCII letter case, keeping the case a name was created with. Every
// comparison of names in C++ folds them with FoldName; the schema's
// COLLATE NOCASE makes SQLite fold the same ASCII letters, so both agree on
// which names are the same.
#ifndef BREVLIN_REGSTORE_NAMES_H_
#define BREVLIN_REGSTORE_NAMES_H_

#include <string>
#include <string_view>

namespace regstore {

// One character folded: 'A'..'Z' become 'a'..'z'; every other byte stays.
constexpr char FoldNameChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A name folded, for use as the key of a map of names.
inline std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    c = FoldNameChar(c);
  return folded;
}

// Whether two names are the same name.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldNameChar(a[i]) != FoldNameChar(b[i]))
      return false;
  }
  return true;
}

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_NAMES_H_
