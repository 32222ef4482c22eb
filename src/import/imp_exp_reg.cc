#include "import/imp_exp_reg.h"

#include <string>
#include <string_view>
#include <vector>

#include "common/globals.h"
#include "common/run_outcome.h"
#include "import/import_run.h"

bool ImportScopeAllows(plat::RegKey root, ImportScope import_scope) {
  if (root == plat::kHkeyCurrentUser)
    return import_scope == ImportScope::kCurrentUser || import_scope == ImportScope::kBoth;
  if (root == plat::kHkeyLocalMachine)
    return import_scope == ImportScope::kLocalMachine || import_scope == ImportScope::kBoth;
  return true;
}

std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text) {
  return HexTripletsToBytes(text, NumberChars());
}

std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text,
                                             const LocaleNumberChars& chars) {
  const std::size_t count = text.size() / 3;
  std::vector<std::uint8_t> bytes(count, 0);
  // A pair is "$" and its two characters read as a number. Unless the
  // locale rewrites one of these three characters (as a separator or a
  // sign), that number is the two digits, or the first one alone when the
  // second is none, or 0 when the first is none: the pair is read directly.
  bool rewritten[256] = {};
  for (char c : {chars.thousand_separator, chars.positive_sign, chars.negative_sign,
                 chars.decimal_separator}) {
    if (c != '\0')
      rewritten[static_cast<unsigned char>(c)] = true;
  }
  const bool dollar_rewritten = rewritten[static_cast<unsigned char>('$')];
  char pair[3] = {'$', 0, 0};
  for (std::size_t k = 0; k < count; ++k) {
    const char high = text[3 * k];
    const char low = text[3 * k + 1];
    if (!dollar_rewritten && !rewritten[static_cast<unsigned char>(high)] &&
        !rewritten[static_cast<unsigned char>(low)]) {
      const int h = HexDigitValue(high);
      const int l = HexDigitValue(low);
      bytes[k] = static_cast<std::uint8_t>(h < 0 ? 0 : l < 0 ? h : h * 16 + l);
      continue;
    }
    pair[1] = high;
    pair[2] = low;
    bytes[k] = static_cast<std::uint8_t>(LocaleStrToInt(std::string_view(pair, 3), chars) & 0xFF);
  }
  return bytes;
}

bool ImportConfigFile(plat::RegKey root, const std::string& file_name,
                      const std::string& expected_product, bool show_errors,
                      ImportScope import_scope) {
  ImportRequest request;
  request.root = root;
  request.file_name = file_name;
  request.expected_product = expected_product;
  request.show_errors = show_errors;
  request.scope = import_scope;
  return RunImport(request, nullptr, TheRunOutcome());
}
