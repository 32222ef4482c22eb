#include "regstore_tool/value_text.h"

#include <cstdio>

#include "regdefs/hex_digits.h"
#include "regdefs/value_types.h"
#include "regstore_tool/options.h"
#include "regstore_tool/text.h"

namespace regstore_tool {

namespace {

// The number of fixed-size number data. reg.exe reads and writes the data
// of every number type, REG_DWORD_BIG_ENDIAN included, in the machine's
// (little-endian) byte order, and so does this command: a value that reg
// added shows the number reg was given.
bool FixedNumber(const ValueView& value, unsigned long long* number) {
  const std::size_t size = value.type == kRegQword ? 8 : 4;
  if ((value.type != kRegDword && value.type != kRegQword && value.type != kRegDwordBigEndian) ||
      value.size != size)
    return false;
  *number = 0;
  for (std::size_t i = size; i > 0; --i)
    *number = *number << 8 | value.data[i - 1];
  return true;
}

// String data without its terminating NUL.
std::string_view StringData(const ValueView& value) {
  std::string_view text(reinterpret_cast<const char*>(value.data), value.size);
  if (!text.empty() && text.back() == '\0')
    text.remove_suffix(1);
  return text;
}

// The strings of REG_MULTI_SZ data, without the empty string that ends them.
std::vector<std::string_view> MultiStrings(const ValueView& value) {
  std::string_view text(reinterpret_cast<const char*>(value.data), value.size);
  while (!text.empty() && text.back() == '\0')
    text.remove_suffix(1);
  std::vector<std::string_view> strings;
  if (text.empty())
    return strings;
  for (;;) {
    const std::size_t end = text.find('\0');
    strings.push_back(text.substr(0, end));
    if (end == std::string_view::npos)
      break;
    text.remove_prefix(end + 1);
  }
  return strings;
}

// `text` as a number: decimal, or hexadecimal after 0x.
bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* number) {
  std::size_t i = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i == text.size())
    return false;
  *number = 0;
  for (; i < text.size(); ++i) {
    const int digit = regdefs::HexDigitValue(text[i]);
    if (digit < 0 || digit >= base)
      return false;
    if (*number > (max - static_cast<unsigned>(digit)) / static_cast<unsigned>(base))
      return false;
    *number = *number * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  return true;
}

}  // namespace

std::string TypeName(std::uint32_t type) {
  const std::string_view name = regdefs::ValueTypeName(type);
  if (!name.empty())
    return std::string(name);
  char text[32];
  std::snprintf(text, sizeof(text), "0x%x", type);
  return text;
}

TypeNameUse ParseTypeName(const std::string& name, std::uint32_t* type) {
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  // The other name of REG_DWORD, which reg.exe takes too.
  if (upper == "REG_DWORD_LITTLE_ENDIAN")
    upper = "REG_DWORD";
  const regdefs::ValueTypeEntry* entry = regdefs::ValueTypeByName(upper);
  if (!entry)
    return TypeNameUse::kUnknown;
  *type = entry->type;
  switch (entry->type) {
    case kRegSz:
    case kRegExpandSz:
    case kRegMultiSz:
    case kRegDword:
    case kRegDwordBigEndian:
    case kRegQword:
    case kRegBinary:
    case kRegNone:
      return TypeNameUse::kAdded;
    default:
      return TypeNameUse::kNotAdded;
  }
}

// The data as reg.exe shows it.
std::string QueryData(const ValueView& value) {
  unsigned long long number = 0;
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz: {
      std::string_view text = StringData(value);
      return std::string(text.substr(0, text.find('\0')));
    }
    case kRegMultiSz: {
      std::string shown;
      const std::vector<std::string_view> strings = MultiStrings(value);
      for (std::size_t i = 0; i < strings.size(); ++i)
        shown.append(i ? "\\0" : "").append(strings[i]);
      return shown;
    }
    case kRegDword:
    case kRegDwordBigEndian:
    case kRegQword:
      if (FixedNumber(value, &number)) {
        static const char kDigits[] = "0123456789abcdef";
        char text[2 + 16];
        char* end = text + sizeof(text);
        char* digit = end;
        do {
          *--digit = kDigits[number & 15];
          number >>= 4;
        } while (number != 0);
        *--digit = 'x';
        *--digit = '0';
        return std::string(digit, end);
      }
      return HexDigits(value.data, value.size, true);
    default:
      return HexDigits(value.data, value.size, true);
  }
}

std::string JsonData(const ValueView& value) {
  unsigned long long number = 0;
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz:
      return JsonString(StringData(value));
    case kRegMultiSz: {
      std::string json = "[";
      const std::vector<std::string_view> strings = MultiStrings(value);
      for (std::size_t i = 0; i < strings.size(); ++i)
        json.append(i ? ", " : "").append(JsonString(strings[i]));
      return json + "]";
    }
    case kRegDword:
    case kRegDwordBigEndian:
    case kRegQword:
      if (FixedNumber(value, &number))
        return std::to_string(number);
      break;
    default:
      break;
  }
  return "\"" + HexDigits(value.data, value.size, false) + "\"";
}

// The data of `add /d` for a type; answers the problem, or "".
std::string ParseAddData(std::uint32_t type, const std::string& text, const std::string& separator,
                         std::vector<std::uint8_t>* data) {
  data->clear();
  switch (type) {
    case kRegDword:
    case kRegDwordBigEndian:
    case kRegQword: {
      const std::size_t size = type == kRegQword ? 8 : 4;
      unsigned long long number = 0;
      // Empty data is the number 0, as reg.exe takes it (the command refuses
      // a dword without /d before it gets here). A qword may be negative, as
      // reg.exe takes it: -N is stored as 2^64 - N.
      const bool negative = type == kRegQword && text.size() > 1 && text[0] == '-';
      const std::string digits = negative ? text.substr(1) : text;
      if (!digits.empty() && !ParseNumber(digits, size == 4 ? 0xFFFFFFFFull : ~0ull, &number))
        return TypeName(type) + " data must be a number from 0 to " +
               (size == 4 ? "4294967295" : "18446744073709551615") +
               ", decimal or 0x hexadecimal: '" + text + "'";
      if (negative)
        number = ~number + 1;
      // In the machine's byte order for every number type (see FixedNumber).
      for (std::size_t i = 0; i < size; ++i)
        data->push_back(static_cast<std::uint8_t>(number >> (8 * i)));
      return "";
    }
    case kRegBinary: {
      // An odd number of digits makes the first byte of one digit, as
      // reg.exe reads it.
      for (std::size_t i = 0; i < text.size();) {
        const std::size_t digits = i == 0 && text.size() % 2 != 0 ? 1 : 2;
        unsigned long long byte = 0;
        const std::string pair = text.substr(i, digits);
        i += digits;
        if (!ParseNumber("0x" + pair, 0xFF, &byte))
          return "REG_BINARY data must be pairs of hexadecimal digits: '" + text + "'";
        data->push_back(static_cast<std::uint8_t>(byte));
      }
      return "";
    }
    case kRegMultiSz: {
      std::size_t start = 0;
      while (start < text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos)
          end = text.size();
        if (end == start)
          return "REG_MULTI_SZ data may not hold an empty string: '" + text + "'";
        data->insert(data->end(), text.begin() + static_cast<std::ptrdiff_t>(start),
                     text.begin() + static_cast<std::ptrdiff_t>(end));
        data->push_back(0);
        // One separator at the end closes the last string, as reg.exe
        // takes it.
        start = end + separator.size();
      }
      data->push_back(0);
      return "";
    }
    case kRegNone: {
      // reg.exe stores REG_NONE data as the UTF-16LE text and its 16-bit
      // NUL: the bytes are not text to the registry, so they stay as reg
      // wrote them.
      std::string wide;
      AppendUtf16Le(text, &wide);
      wide.append(2, '\0');
      data->assign(wide.begin(), wide.end());
      return "";
    }
    default:  // REG_SZ, REG_EXPAND_SZ: text and its NUL
      data->assign(text.begin(), text.end());
      data->push_back(0);
      return "";
  }
}

}  // namespace regstore_tool
