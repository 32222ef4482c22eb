// The lines of a configuration file: their kinds and their fields.
//
// Pure functions on a line's text as the reader gave it; nothing is trimmed.
#ifndef BREVLIN_IMPORT_CONFIG_LINE_H_
#define BREVLIN_IMPORT_CONFIG_LINE_H_

#include <string_view>

#include "platform/registry.h"

enum class LineKind {
  kBlank,    // empty, or only bytes 0x00 to 0x20
  kKey,      // "[" key path "]"
  kProduct,  // "<[" product name "]>"
  kIgnored,  // "<<" anything
  kRoot,     // "<" root name ">"
  kValue,    // type word TAB value name TAB value text
};

LineKind ClassifyLine(std::string_view line);

// The bracket fields are cut by position, whatever the characters there are:
// a key or root line loses its first character and then its last one, if one
// is left; a product line loses its first two, then its last two if at least
// two are left.
std::string_view KeyPathOf(std::string_view key_line);
std::string_view RootNameOf(std::string_view root_line);
std::string_view ProductNameOf(std::string_view product_line);

// The three fields of a value line: the text before the first tab, the text
// between the first and the second tab, and everything after the second tab.
// With one tab only, the name is empty and the text is what follows the tab;
// with no tab, all three are empty.
struct ValueFields {
  std::string_view type_word;
  std::string_view name;
  std::string_view text;
};
ValueFields SplitValueLine(std::string_view value_line);

enum class ValueType { kNone, kString, kInteger, kBinary };

// "string", "integer" or "binary", compared exactly; any other word is kNone.
ValueType ValueTypeOf(std::string_view type_word);

// The root key for one of the five root names, compared exactly. Answers
// false for any other name.
bool RootKeyOfName(std::string_view name, plat::RegKey* root);

// The name of one of the five root keys, or the empty text for any other key.
std::string_view NameOfRootKey(plat::RegKey root);

#endif  // BREVLIN_IMPORT_CONFIG_LINE_H_
