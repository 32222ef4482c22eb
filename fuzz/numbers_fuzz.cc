// The number decoders on arbitrary text and arbitrary locale characters,
// against a model that follows the rules one step at a time.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/globals.h"
#include "fuzz_check.h"
#include "import/imp_exp_reg.h"

namespace {

using fuzzing::Check;

// Removes the thousands separator, maps the locale's signs and decimal
// separator, then reads optional spaces, one sign, a base prefix and digits
// while the magnitude fits in 32 bits.
std::int32_t Model(std::string_view text, const LocaleNumberChars& chars) {
  std::string s;
  for (char c : text) {
    if (chars.thousand_separator != '\0' && c == chars.thousand_separator)
      continue;
    if (chars.positive_sign != '\0' && c == chars.positive_sign) {
      s += '+';
    } else if (chars.negative_sign != '\0' && c == chars.negative_sign) {
      s += '-';
    } else if (chars.decimal_separator != '\0' && c == chars.decimal_separator) {
      s += '.';
    } else {
      s += c;
    }
  }
  s = s.substr(0, s.find('\0'));
  std::size_t i = s.find_first_not_of(' ');
  if (i == std::string::npos)
    return 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-')
    negative = s[i++] == '-';
  int base = 10;
  if (s.compare(i, 1, "$") == 0 || s.compare(i, 1, "x") == 0 || s.compare(i, 1, "X") == 0) {
    base = 16;
    i += 1;
  } else if (s.compare(i, 2, "0x") == 0 || s.compare(i, 2, "0X") == 0) {
    base = 16;
    i += 2;
  }
  const std::string digits = base == 10 ? "0123456789" : "0123456789abcdefABCDEF";
  std::uint64_t m = 0;
  for (; i < s.size() && digits.find(s[i]) != std::string::npos; ++i) {
    char c = s[i];
    int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    if (m * base + d > 0xFFFFFFFFull)
      break;
    m = m * base + d;
  }
  std::uint32_t bits = static_cast<std::uint32_t>(m);
  return static_cast<std::int32_t>(negative ? 0u - bits : bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4)
    return 0;
  LocaleNumberChars chars = {static_cast<char>(data[0]), static_cast<char>(data[1]),
                             static_cast<char>(data[2]), static_cast<char>(data[3])};
  std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);
  Check(LocaleStrToInt(text, chars) == Model(text, chars), "LocaleStrToInt differs from the model");
  // The binary decoder under the fixed locale: one byte per three characters,
  // each the low byte of its pair read as a hexadecimal number.
  std::vector<std::uint8_t> bytes = HexTripletsToBytes(text);
  Check(bytes.size() == text.size() / 3, "HexTripletsToBytes gives one byte per three characters");
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    std::string pair = "$" + std::string(text.substr(3 * k, 2));
    Check(bytes[k] == static_cast<std::uint8_t>(Model(pair, NumberChars()) & 0xFF),
          "HexTripletsToBytes differs from the model");
  }
  return 0;
}
