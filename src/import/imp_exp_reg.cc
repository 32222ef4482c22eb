#include "import/imp_exp_reg.h"

#include "common/globals.h"

std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text) {
  const std::size_t count = text.size() / 3;
  std::vector<std::uint8_t> bytes(count, 0);
  const LocaleNumberChars& chars = NumberChars();
  char pair[3] = {'$', 0, 0};
  for (std::size_t k = 0; k < count; ++k) {
    pair[1] = text[3 * k];
    pair[2] = text[3 * k + 1];
    bytes[k] = static_cast<std::uint8_t>(LocaleStrToInt(std::string_view(pair, 3), chars) & 0xFF);
  }
  return bytes;
}
