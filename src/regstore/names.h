// How the registry store compares key and value names: as the registry
// does, without regard to letter case, keeping the case a name was created
// with. Names are held in the ANSI code page (1252, the code page that Wine
// gives an English locale); they are compared as the registry compares the
// UTF-16 names it makes of them: each character decoded from the code page,
// then put in upper case by Unicode's simple mapping. So é and É are one
// letter, and ÿ and Ÿ (0xFF and 0x9F); µ and ß have no partner in the code
// page and stay alone.
//
// FoldName is the one fold: maps of names key by it, and the SQLite
// collation "REGNAME" of the store's name columns orders and compares by it.
#ifndef BREVLIN_REGSTORE_NAMES_H_
#define BREVLIN_REGSTORE_NAMES_H_

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace regstore {

// One byte of a name, decoded from code page 1252 and put in upper case.
char16_t FoldNameChar(unsigned char c);

// A name folded, character by character.
std::u16string FoldName(std::string_view name);

// Orders two names as their folded forms order: less than, equal to or
// greater than 0.
int CompareNames(std::string_view a, std::string_view b);

// Whether two names are the same name.
inline bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

// The collation of the store's name columns.
constexpr char kNameCollation[] = "REGNAME";

// Makes the collation known to a connection. Every connection to a store
// needs it before it touches a name column. Answers an SQLite result code.
int RegisterNameCollation(sqlite3* db);

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_NAMES_H_
