// The number characters of the user's locale.
#ifndef BREVLIN_PLATFORM_LOCALE_H_
#define BREVLIN_PLATFORM_LOCALE_H_

namespace plat {

// One character each; NUL stands for a setting that is empty.
struct NumberChars {
  char thousand_separator;
  char positive_sign;
  char negative_sign;
  char decimal_separator;
};

// The characters of Windows' default English locale, also taken for any
// setting longer than one character and for one that cannot be read.
constexpr NumberChars kDefaultNumberChars = {',', '+', '-', '.'};

// Reads the four characters from the locale of the calling thread (Windows)
// or of the environment (elsewhere).
NumberChars ReadLocaleNumberChars();

}  // namespace plat

#endif  // BREVLIN_PLATFORM_LOCALE_H_
