#include "platform/locale.h"

#include "platform/win32/windows_wrapper.h"

namespace plat {

namespace {

// A setting of one character (or none) fits the two-character buffer; a
// longer one makes the call answer 0 and the default is taken.
char LocaleChar(LCID locale, LCTYPE item, char fallback) {
  char buffer[2] = {0, 0};
  if (::GetLocaleInfoA(locale, item, buffer, 2) > 0)
    return buffer[0];
  return fallback;
}

}  // namespace

NumberChars ReadLocaleNumberChars() {
  LCID locale = ::GetThreadLocale();
  NumberChars chars;
  chars.thousand_separator =
      LocaleChar(locale, LOCALE_STHOUSAND, kDefaultNumberChars.thousand_separator);
  chars.positive_sign = LocaleChar(locale, LOCALE_SPOSITIVESIGN, kDefaultNumberChars.positive_sign);
  chars.negative_sign = LocaleChar(locale, LOCALE_SNEGATIVESIGN, kDefaultNumberChars.negative_sign);
  chars.decimal_separator =
      LocaleChar(locale, LOCALE_SDECIMAL, kDefaultNumberChars.decimal_separator);
  return chars;
}

}  // namespace plat
