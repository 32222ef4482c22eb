#include "platform/locale.h"

#include <clocale>
#include <cstring>
#include <string>

namespace plat {

namespace {

// The values that Windows' default English locale gives. The C locale has no
// thousands separator, and without one the same configuration file would
// decode differently here than on Windows.
constexpr NumberChars kCLocaleNumberChars = {',', '\0', '-', '.'};

// One character or none; a longer setting (a multibyte character, say) takes
// the default, as on Windows.
char OneChar(const char* setting, char fallback) {
  if (setting == nullptr)
    return fallback;
  std::size_t length = std::strlen(setting);
  if (length == 0)
    return '\0';
  if (length == 1)
    return setting[0];
  return fallback;
}

bool IsCLocale(const char* name) {
  if (name == nullptr)
    return true;
  return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
         std::strncmp(name, "C.", 2) == 0;
}

}  // namespace

NumberChars ReadLocaleNumberChars() {
  const char* current = std::setlocale(LC_ALL, nullptr);
  std::string saved = current ? current : "C";

  NumberChars chars = kCLocaleNumberChars;
  if (std::setlocale(LC_ALL, "") != nullptr) {
    bool numeric_c = IsCLocale(std::setlocale(LC_NUMERIC, nullptr));
    bool monetary_c = IsCLocale(std::setlocale(LC_MONETARY, nullptr));
    const std::lconv* conv = std::localeconv();
    if (!numeric_c) {
      chars.thousand_separator =
          OneChar(conv->thousands_sep, kDefaultNumberChars.thousand_separator);
      chars.decimal_separator = OneChar(conv->decimal_point, kDefaultNumberChars.decimal_separator);
    }
    if (!monetary_c) {
      chars.positive_sign = OneChar(conv->positive_sign, kDefaultNumberChars.positive_sign);
      chars.negative_sign = OneChar(conv->negative_sign, kDefaultNumberChars.negative_sign);
    }
  }
  // The rest of the program formats and parses in the C locale.
  std::setlocale(LC_ALL, saved.c_str());
  return chars;
}

}  // namespace plat
