// How the registry store compares key and value names: as the registry
// does, without regard to letter case, keeping the case a name was created
// with. Names are held in the ANSI code page (1252, the code page that Wine
// gives an English locale); they are compared as the registry compares the
// UTF-16 names it makes of them: each character decoded from the code page,
// then put in upper case by Unicode's simple mapping. So é and É are one
// letter, and ÿ and Ÿ (0xFF and 0x9F); µ and ß have no partner in the code
// page and stay alone.
//
// FoldName is the one fold: maps of names key by it, and the store keeps it
// beside each name, in a column of its own that a plain binary index orders,
// so that the store's file needs nothing but SQLite to be read and checked.
#ifndef BREVLIN_REGSTORE_NAMES_H_
#define BREVLIN_REGSTORE_NAMES_H_

#include <string>
#include <string_view>

namespace regstore {

// One byte of a name, decoded from code page 1252 and put in upper case.
char16_t FoldNameChar(unsigned char c);

// A name folded, character by character, as UTF-8 text: the folded form
// the store keeps beside each name. Byte order of folded forms is the order
// of CompareNames, and two names are one name when their folded forms are
// the same bytes.
std::string FoldName(std::string_view name);
// The same into `folded`, reusing its memory.
void FoldNameInto(std::string_view name, std::string* folded);

// Orders two names as their folded forms order: less than, equal to or
// greater than 0.
int CompareNames(std::string_view a, std::string_view b);

// Whether two names are the same name.
inline bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_NAMES_H_
