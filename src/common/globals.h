// Module Globals: the locale number characters, number decoding, and the
// write-permission probe of the registry.
#ifndef BREVLIN_COMMON_GLOBALS_H_
#define BREVLIN_COMMON_GLOBALS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/locale.h"
#include "platform/registry.h"
#include "regdefs/hex_digits.h"

// The application's title: the caption of its error box and the base of the
// captions of the importer's message boxes.
extern const char kApplicationTitle[];

using LocaleNumberChars = plat::NumberChars;

// Reads the locale number characters from the platform and fixes them for the
// rest of the run. The entry sequence calls it once at start-up; a later call
// changes nothing. Code that decodes a number before it is called fixes them
// on first use.
void FixLocaleNumberChars();

// The locale number characters that are fixed for this run.
const LocaleNumberChars& NumberChars();

using regdefs::HexDigitValue;

// Decodes a signed 32-bit integer from text written with the locale number
// characters: thousands separators are dropped, the locale's signs and
// decimal separator stand for "+", "-" and "."; then optional leading spaces,
// one sign, and decimal digits or, after "$", "x", "X", "0x" or "0X",
// hexadecimal ones. Digits are taken while the magnitude fits in 32 bits; the
// first character that is not a digit ends the number. It never fails: text
// without a digit gives 0. A NUL byte ends the text.
std::int32_t LocaleStrToInt(std::string_view text);
std::int32_t LocaleStrToInt(std::string_view text, const LocaleNumberChars& chars);

// LocaleStrToInt's value, and how the text was read.
struct IntegerReading {
  std::int32_t value = 0;
  bool has_digits = false;    // at least one digit was taken
  bool whole = false;         // the number ran to the end of the text
  bool out_of_range = false;  // a digit was left because it would pass 0xFFFFFFFF
};
IntegerReading ReadLocaleInteger(std::string_view text, const LocaleNumberChars& chars);

// Whether the key at `path` below `root` may be written: opens it with full
// access and writes and deletes a temporary value, or, when it does not open,
// creates it (with every missing key above it, which stay). The path is taken
// below `root` unchanged. Never raises.
bool CanWriteRegKey(const std::string& path, plat::RegKey root);

// The temporary value that CanWriteRegKey writes and deletes again.
constexpr char kProbeValueName[] = "amdk328wlskdjf";

#endif  // BREVLIN_COMMON_GLOBALS_H_
