// Hexadecimal digits, as every reader of registry data takes them.
#ifndef BREVLIN_REGDEFS_HEX_DIGITS_H_
#define BREVLIN_REGDEFS_HEX_DIGITS_H_

namespace regdefs {

namespace hex_detail {

// The value of each hexadecimal digit character; -1 for every other byte.
struct HexDigitTable {
  signed char value[256];
  constexpr HexDigitTable() : value() {
    for (int c = 0; c < 256; ++c) {
      value[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                 : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                 : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                                        : -1;
    }
  }
};
inline constexpr HexDigitTable kHexDigits;

}  // namespace hex_detail

// The value of a hexadecimal digit: "0" to "9", "A" to "F" and "a" to "f"
// give 0 to 15, every other byte -1.
constexpr int HexDigitValue(char c) {
  return hex_detail::kHexDigits.value[static_cast<unsigned char>(c)];
}

}  // namespace regdefs

#endif  // BREVLIN_REGDEFS_HEX_DIGITS_H_
