#include "regstore_tool/reg_file_reader.h"

#include <cstddef>

#include "platform/registry.h"
#include "regstore_tool/text.h"

namespace regstore_tool {

namespace {

constexpr char kRegedit31Header[] = "REGEDIT";
constexpr char kClassesRoot[] = "HKEY_CLASSES_ROOT";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The white space that strtoul skips before a number.
bool IsNumberSpace(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::size_t SkipBlanks(const std::string& text, std::size_t i) {
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  return i;
}

bool StartsWith(const std::string& text, std::size_t i, const char* prefix) {
  return text.compare(i, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Whether only blanks, or blanks and a ";" comment, follow `i`.
bool OnlyCommentAfter(const std::string& text, std::size_t i) {
  i = SkipBlanks(text, i);
  return i == text.size() || text[i] == ';';
}

// A hexadecimal number read as strtoul reads one in base 16, which is how
// the registry's tools read the numbers of hex data and of hex(T): white
// space, a sign and "0x" may come first, a negative number stands for its
// 32-bit two's complement, and a number past 32 bits is out of range.
struct HexNumber {
  bool converted = false;  // at least one digit
  std::size_t end = 0;     // where the number stops
  std::uint32_t value = 0;
  bool out_of_range = false;
};

HexNumber ScanHexNumber(const std::string& text, std::size_t i) {
  HexNumber number;
  number.end = i;
  std::size_t p = i;
  while (p < text.size() && IsNumberSpace(text[p]))
    ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-'))
    negative = text[p++] == '-';
  if (p + 1 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X'))
    p += 2;
  std::uint64_t magnitude = 0;
  bool big = false;
  const std::size_t digits = p;
  for (; p < text.size() && DigitValue(text[p]) >= 0; ++p) {
    if (big)
      continue;
    magnitude = magnitude << 4 | static_cast<std::uint64_t>(DigitValue(text[p]));
    big = magnitude > 0xFFFFFFFFu;
  }
  if (p == digits)
    return number;  // no digits: nothing is converted and `end` stays at `i`
  number.converted = true;
  number.end = p;
  number.out_of_range = big;
  if (!negative)
    number.value = big ? 0xFFFFFFFFu : static_cast<std::uint32_t>(magnitude);
  else
    number.value =
        big ? 1u : static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude));
  return number;
}

// The lines of a registry file, as 8-bit text without their line ends: the
// bytes of an 8-bit file as they stand, UTF-16LE turned into UTF-8.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {
    Fill();
    if (raw_.compare(0, 2, "\xFF\xFE") == 0) {
      utf16_ = true;
      pos_ = 2;
    } else if (raw_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      pos_ = 3;
    }
  }

  bool utf16() const { return utf16_; }
  // Whether reading stopped at a NUL character.
  bool stopped_at_nul() const { return nul_; }

  // Answers false at the end of the file or after a NUL.
  bool Next(std::string* line) {
    line->clear();
    if (done_)
      return false;
    const std::size_t unit = utf16_ ? 2 : 1;
    std::string units;
    std::string& text = utf16_ ? units : *line;
    bool any = false;
    for (;;) {
      if (pos_ + unit > raw_.size() && !Fill()) {
        done_ = true;  // an odd last byte of a UTF-16 file is dropped
        if (!any)
          return false;
        break;
      }
      const char low = raw_[pos_];
      const bool ascii = !utf16_ || raw_[pos_ + 1] == '\0';
      pos_ += unit;
      if (skip_lf_) {
        skip_lf_ = false;
        if (ascii && low == '\n')
          continue;  // the LF of a CR LF
      }
      any = true;
      if (ascii && low == '\0') {
        nul_ = true;
        done_ = true;
        break;
      }
      if (ascii && (low == '\n' || low == '\r')) {
        skip_lf_ = low == '\r';
        break;
      }
      text += low;
      if (utf16_)
        text += raw_[pos_ - 1];
    }
    if (utf16_)
      *line = FromUtf16Le(reinterpret_cast<const std::uint8_t*>(units.data()), units.size());
    return true;
  }

 private:
  // Reads more of the file; answers false when nothing more was read.
  bool Fill() {
    raw_.erase(0, pos_);
    pos_ = 0;
    char chunk[65536];
    in_.read(chunk, sizeof(chunk));
    raw_.append(chunk, static_cast<std::size_t>(in_.gcount()));
    return in_.gcount() > 0;
  }

  std::istream& in_;
  std::string raw_;
  std::size_t pos_ = 0;
  bool utf16_ = false;
  bool skip_lf_ = false;
  bool nul_ = false;
  bool done_ = false;
};

// Reads the text of a quoted string from `from` (after the opening quote)
// with its escapes, and sets `*after` past the closing quote. Answers false,
// with the reason, when the string is refused.
bool Unescape(const std::string& line, std::size_t from, std::string* text, std::size_t* after,
              std::string* why) {
  text->clear();
  for (std::size_t i = from; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      *after = i + 1;
      return true;
    }
    if (c != '\\') {
      *text += c;
      continue;
    }
    if (++i == line.size())
      break;
    switch (line[i]) {
      case 'n':
        *text += '\n';
        break;
      case 'r':
        *text += '\r';
        break;
      case '0':
        *why = "holds \"\\0\", which the registry's tools refuse";
        return false;
      default:
        *text += line[i];  // \\, \" and any other: the character itself
    }
  }
  *why = "has no closing quote";
  return false;
}

// Appends the comma-separated bytes of `text` from `i` to `data`. Sets
// `*more` when the data goes on in the next line ("\" after a comma, then
// nothing or a comment). Answers false when the bytes are refused.
bool ReadHexBytes(const std::string& text, std::size_t i, std::vector<std::uint8_t>* data,
                  bool* more) {
  *more = false;
  while (i < text.size()) {
    const HexNumber number = ScanHexNumber(text, i);
    if (number.converted && number.value > 0xFF)
      return false;
    if (!number.converted) {
      const std::size_t at = SkipBlanks(text, i);
      if (at < text.size() && text[at] == '\\') {
        *more = OnlyCommentAfter(text, at + 1);
        return *more;
      }
      return at < text.size() && text[at] == ';';
    }
    data->push_back(static_cast<std::uint8_t>(number.value));
    i = number.end;
    if (i < text.size() && text[i] != ',')
      return OnlyCommentAfter(text, i);
    if (i < text.size())
      ++i;
  }
  return true;
}

class Parser {
 public:
  Parser(LineReader* lines, RegFileHandler* handler) : lines_(*lines), handler_(*handler) {}

  bool Run() {
    std::string line;
    if (!NextLine(&line)) {
      handler_.Problem(1, "the file is empty; a registry file begins with \"" +
                              std::string(kRegedit4Header) + "\" or \"" + kVersion5Header + "\"");
      return false;
    }
    const std::string header = line.substr(SkipBlanks(line, 0));
    const bool win31 = header == kRegedit31Header;
    if (!win31 && header != kRegedit4Header && header != kVersion5Header) {
      if (!StartsWith(header, 0, kRegedit31Header)) {
        handler_.Problem(1, NotRegistryFile(header));
        return false;
      }
      // "REGEDIT 4", "REGEDIT5" and the like: the registry's tools take such
      // a file and import nothing from it.
      handler_.Problem(1,
                       "the header \"" + header +
                           "\" is of no version the registry's tools read; nothing was imported");
      return true;
    }
    while (NextLine(&line)) {
      if (!(win31 ? Win31Line(line) : Line(line)))
        return false;
    }
    if (lines_.stopped_at_nul())
      handler_.Problem(line_number_, "a NUL character ends the file here; the rest is not read");
    return true;
  }

 private:
  std::string NotRegistryFile(const std::string& header) const {
    if (header == "R" && lines_.stopped_at_nul() && line_number_ == 1)
      return "not a registry file: UTF-16 text must begin with the byte order mark FF FE";
    return "not a registry file: it must begin with \"" + std::string(kRegedit4Header) +
           "\" or \"" + kVersion5Header + "\"";
  }

  bool NextLine(std::string* line) {
    if (!lines_.Next(line))
      return false;
    ++line_number_;
    return true;
  }

  void Skip(int line, const std::string& why) {
    handler_.Problem(line, why + "; the line is skipped");
  }

  // A line of the Windows 3.1 form: "HKEY_CLASSES_ROOT\path", then spaces,
  // "=" and one space at most, then the text of the key's unnamed value.
  bool Win31Line(const std::string& line) {
    if (!StartsWith(line, 0, kClassesRoot)) {
      if (SkipBlanks(line, 0) != line.size())
        Skip(line_number_,
             "a line of a Windows 3.1 registry file must begin with " + std::string(kClassesRoot));
      return true;
    }
    std::size_t key_end = 0;
    while (key_end < line.size() && !IsNumberSpace(line[key_end]))
      ++key_end;
    std::size_t value = SkipBlanks(line, key_end);
    if (value < line.size() && line[value] == '=')
      ++value;
    if (value < line.size() && line[value] == ' ')
      ++value;
    if (!handler_.Key(line.substr(0, key_end), false, line_number_))
      return false;
    std::vector<std::uint8_t> data(line.begin() + static_cast<std::ptrdiff_t>(value), line.end());
    data.push_back(0);
    return handler_.Value("", false, plat::kRegSz, data, line_number_);
  }

  bool Line(const std::string& line) {
    const std::size_t start = SkipBlanks(line, 0);
    if (start == line.size())
      return true;
    switch (line[start]) {
      case '[':
        return KeyLine(line, start + 1);
      case '@':
      case '"':
        return ValueLine(line, start);
      case ';':
      case '#':
        return true;
      default:
        Skip(line_number_, "not a key line, a value line or a comment");
        return true;
    }
  }

  bool KeyLine(const std::string& line, std::size_t from) {
    const int number = line_number_;
    if (from < line.size() && IsBlank(line[from])) {
      Skip(number, "a key name cannot begin with a space or tab");
      return true;
    }
    const std::size_t close = line.rfind(']');
    if (close == std::string::npos || close < from) {
      Skip(number, "a key line must end with \"]\"");
      return true;
    }
    if (SkipBlanks(line, close + 1) != line.size())
      handler_.Problem(number, "the text after the key's \"]\" is ignored");
    const bool remove = close > from && line[from] == '-';
    const std::string name = line.substr(from + remove, close - from - remove);
    // Values after a deleted key belong to no key.
    key_open_ = !remove;
    // Empty names inside a path are dropped, but a path that begins with a
    // backslash is refused, and the values after it belong to no key.
    const std::size_t slash = name.find('\\');
    if (slash != std::string::npos && slash + 1 < name.size() && name[slash + 1] == '\\') {
      key_open_ = false;
      Skip(number, "the path below the root key cannot begin with a backslash");
      return true;
    }
    return handler_.Key(name, remove, number);
  }

  bool ValueLine(const std::string& line, std::size_t start) {
    const int number = line_number_;
    std::string name;
    std::size_t i = start + 1;
    std::string why;
    if (line[start] == '"' && !Unescape(line, start + 1, &name, &i, &why)) {
      Skip(number, "the value name " + why);
      return true;
    }
    i = SkipBlanks(line, i);
    if (i == line.size() || line[i] != '=') {
      Skip(number, "\"=\" is missing after the value name");
      return true;
    }
    i = SkipBlanks(line, i + 1);
    std::size_t end = line.size();
    while (end > i && IsBlank(line[end - 1]))
      --end;
    const std::string text = line.substr(i, end - i);
    bool remove = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (!ReadData(text, number, &remove, &type, &data))
      return true;
    if (!key_open_) {
      Skip(number, "a value line must follow a key line");
      return true;
    }
    return handler_.Value(name, remove, type, data, number);
  }

  // Reads the data of a value line, and of the lines that continue it.
  // Answers false when the value is skipped (and says why).
  bool ReadData(const std::string& text, int number, bool* remove, std::uint32_t* type,
                std::vector<std::uint8_t>* data) {
    if (StartsWith(text, 0, "-")) {
      if (!OnlyCommentAfter(text, 1)) {
        Skip(number, "only a comment may follow the \"-\" that deletes a value");
        return false;
      }
      *remove = true;
      return true;
    }
    if (StartsWith(text, 0, "\"")) {
      std::string value;
      std::size_t after = 0;
      std::string why;
      if (!Unescape(text, 1, &value, &after, &why)) {
        Skip(number, "the string " + why);
        return false;
      }
      if (!OnlyCommentAfter(text, after)) {
        Skip(number, "only a \";\" comment may follow the closing quote");
        return false;
      }
      *type = plat::kRegSz;
      data->assign(value.begin(), value.end());
      data->push_back(0);
      return true;
    }
    if (StartsWith(text, 0, "dword:"))
      return ReadDword(text, number, type, data);
    std::size_t bytes = 0;
    if (StartsWith(text, 0, "hex:")) {
      *type = plat::kRegBinary;
      bytes = 4;
    } else if (StartsWith(text, 0, "hex(")) {
      // The type: a number as strtoul reads it, but "0x" is refused.
      const HexNumber number_type = ScanHexNumber(text, 4);
      const std::size_t close = number_type.end;
      if (text.size() == 4 || (text.size() > 5 && (text[5] == 'x' || text[5] == 'X')) ||
          !StartsWith(text, close, "):") ||
          (number_type.out_of_range && number_type.value == 0xFFFFFFFFu)) {
        Skip(number, "hex(T): needs a hexadecimal type number up to ffffffff");
        return false;
      }
      *type = number_type.value;
      bytes = close + 2;
    } else {
      Skip(number, "the data must be a quoted string, dword:, hex:, hex(T): or -");
      return false;
    }
    return ReadHexData(text, bytes, number, *type, data);
  }

  bool ReadDword(const std::string& text, int number, std::uint32_t* type,
                 std::vector<std::uint8_t>* data) {
    const std::size_t start = SkipBlanks(text, 6);
    std::size_t end = start;
    std::uint32_t value = 0;
    while (end < text.size() && DigitValue(text[end]) >= 0)
      value = value << 4 | static_cast<std::uint32_t>(DigitValue(text[end++]));
    // "dword:" alone is refused, "dword:;..." is 0 as it is for the
    // registry's tools.
    if (text.size() == 6 || end - start > 8 || !OnlyCommentAfter(text, end)) {
      Skip(number, "dword: needs 1 to 8 hexadecimal digits");
      return false;
    }
    *type = plat::kRegDword;
    data->assign({static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
    return true;
  }

  bool ReadHexData(const std::string& text, std::size_t i, int number, std::uint32_t type,
                   std::vector<std::uint8_t>* data) {
    if (i == text.size())
      return true;  // no bytes: empty data, whatever the type
    bool more = false;
    if (!ReadHexBytes(text, i, data, &more)) {
      Skip(number, "hex data must be hexadecimal bytes separated by commas");
      return false;
    }
    std::string line;
    while (more && NextLine(&line)) {
      // Blank lines and comments may stand between continued lines.
      const std::size_t start = SkipBlanks(line, 0);
      if (start == line.size() || line[start] == ';')
        continue;
      if (DigitValue(line[start]) < 0) {
        Skip(number, "the hex data goes on in line " + std::to_string(line_number_) +
                         ", which does not continue it (that line is skipped too)");
        return false;
      }
      if (!ReadHexBytes(line, start, data, &more)) {
        Skip(number, "the hex data continued in line " + std::to_string(line_number_) +
                         " must be hexadecimal bytes separated by commas");
        return false;
      }
    }
    if (IsRegFileStringType(type) && !data->empty())
      EndString(data);
    return true;
  }

  // String data written as hex ends with a NUL, added when missing; in a
  // UTF-16 file it is UTF-16LE, which the store keeps as 8-bit text.
  void EndString(std::vector<std::uint8_t>* data) const {
    if (!lines_.utf16()) {
      if (data->back() != 0)
        data->push_back(0);
      return;
    }
    // An odd last byte is no part of any character: it is dropped.
    if (data->size() % 2 != 0)
      data->pop_back();
    if (data->size() < 2 || (*data)[data->size() - 2] != 0 || data->back() != 0)
      data->insert(data->end(), {0, 0});
    const std::string text = FromUtf16Le(data->data(), data->size());
    data->assign(text.begin(), text.end());
  }

  LineReader& lines_;
  RegFileHandler& handler_;
  bool key_open_ = false;
  int line_number_ = 0;
};

}  // namespace

bool ReadRegFile(std::istream& in, RegFileHandler* handler) {
  LineReader lines(in);
  return Parser(&lines, handler).Run();
}

}  // namespace regstore_tool
