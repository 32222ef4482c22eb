// Module ImpExpReg: importing a configuration file into the registry.
#ifndef BREVLIN_IMPORT_IMP_EXP_REG_H_
#define BREVLIN_IMPORT_IMP_EXP_REG_H_

#include <cstdint>
#include <string_view>
#include <vector>

// Decodes the value text of a "binary" line: every group of three characters
// gives one byte from its first two, read as a hexadecimal number with the
// locale number characters; the third character of a group may be anything.
// A final group of one or two characters gives nothing. Never fails.
std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text);

#endif  // BREVLIN_IMPORT_IMP_EXP_REG_H_
