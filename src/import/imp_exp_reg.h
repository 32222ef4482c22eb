// Module ImpExpReg: importing a configuration file into the registry.
#ifndef BREVLIN_IMPORT_IMP_EXP_REG_H_
#define BREVLIN_IMPORT_IMP_EXP_REG_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/globals.h"
#include "platform/registry.h"

// Which of HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE an import may write; the
// other roots always may. Any value beyond these allows neither.
enum class ImportScope : std::uint8_t {
  kCurrentUser = 0,
  kLocalMachine = 1,
  kBoth = 2,
};

// Imports the configuration file `file_name` into the registry, starting
// below `root`. A product line must name `expected_product`. A key that may
// not be written stops the import with a message when `show_errors`, and
// otherwise stops writing until the next root line. `import_scope` says which
// roots may be written. File errors, a refused key and a wrong product are
// shown to the user here; registry failures raise ERegistryException.
// Answers true when the whole file was imported.
bool ImportConfigFile(plat::RegKey root, const std::string& file_name,
                      const std::string& expected_product, bool show_errors,
                      ImportScope import_scope);

// Whether lines below `root` may be written in `import_scope`.
bool ImportScopeAllows(plat::RegKey root, ImportScope import_scope);

// Decodes the value text of a "binary" line: every group of three characters
// gives one byte from its first two, read as a hexadecimal number with the
// locale number characters; the third character of a group may be anything.
// A final group of one or two characters gives nothing. Never fails.
std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text);
// The same with the given locale number characters.
std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text, const LocaleNumberChars& chars);

#endif  // BREVLIN_IMPORT_IMP_EXP_REG_H_
