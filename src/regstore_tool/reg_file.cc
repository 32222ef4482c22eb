#include "regstore_tool/reg_file.h"

#include <cstring>

#include "platform/registry.h"
#include "regstore_tool/text.h"

namespace regstore_tool {

namespace {

constexpr char kRegedit4Header[] = "REGEDIT4";
constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";

bool IsStringType(std::uint32_t type) {
  return type == plat::kRegSz || type == plat::kRegExpandSz || type == plat::kRegMultiSz;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
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

void TrimRight(std::string* text) {
  while (!text->empty() && (IsSpace(text->back()) || text->back() == '\r'))
    text->pop_back();
}

std::size_t SkipSpaces(const std::string& text, std::size_t i) {
  while (i < text.size() && IsSpace(text[i]))
    ++i;
  return i;
}

// Whether `text` at `i` begins with `word`, ignoring ASCII letter case.
bool StartsWithWord(const std::string& text, std::size_t i, const char* word) {
  for (; *word; ++word, ++i) {
    if (i >= text.size())
      return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != *word)
      return false;
  }
  return true;
}

// Whether only spaces or a comment follow `i`.
bool OnlyCommentAfter(const std::string& text, std::size_t i) {
  i = SkipSpaces(text, i);
  return i == text.size() || text[i] == ';';
}

// The lines of a registry file as UTF-8 (or 8-bit) text, without line ends.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {
    char bom[3] = {};
    in_.read(bom, 2);
    const std::streamsize got = in_.gcount();
    if (got == 2 && bom[0] == '\xFF' && bom[1] == '\xFE') {
      utf16_ = true;
      return;
    }
    if (got == 2 && bom[0] == 'R' && bom[1] == '\0') {
      // "REGEDIT4" or a version 5 header in UTF-16LE without a byte order
      // mark is not what any tool writes, but its first byte tells.
      utf16_ = true;
      pending_.assign(bom, 2);
      return;
    }
    pending_.assign(bom, static_cast<std::size_t>(got));
    if (got == 2 && bom[0] == '\xEF' && bom[1] == '\xBB') {
      in_.read(bom + 2, 1);
      if (in_.gcount() == 1 && bom[2] == '\xBF')
        pending_.clear();
      else
        pending_.append(bom + 2, static_cast<std::size_t>(in_.gcount()));
    }
  }

  bool Next(std::string* line) {
    line->clear();
    return utf16_ ? NextUtf16(line) : Next8Bit(line);
  }

 private:
  bool Next8Bit(std::string* line) {
    if (!pending_.empty()) {
      *line = pending_;
      pending_.clear();
      if (line->find('\n') != std::string::npos) {
        // Only two or three bytes are held back: a line ends within them.
        pending_ = line->substr(line->find('\n') + 1);
        line->erase(line->find('\n'));
        StripCr(line);
        return true;
      }
      std::string rest;
      if (std::getline(in_, rest) || !rest.empty())
        *line += rest;
      StripCr(line);
      return true;
    }
    if (!std::getline(in_, *line))
      return !line->empty();
    StripCr(line);
    return true;
  }

  bool NextUtf16(std::string* line) {
    std::string units;
    for (;;) {
      if (pos_ + 1 >= raw_.size()) {
        raw_.erase(0, pos_);
        pos_ = 0;
        if (!pending_.empty()) {
          raw_ += pending_;
          pending_.clear();
        }
        char chunk[16384];
        in_.read(chunk, sizeof(chunk));
        raw_.append(chunk, static_cast<std::size_t>(in_.gcount()));
        if (raw_.size() < 2) {
          // The end of the file; an odd last byte is dropped.
          raw_.clear();
          *line = FromUtf16Le(reinterpret_cast<const std::uint8_t*>(units.data()), units.size());
          StripCr(line);
          return !units.empty();
        }
      }
      const char low = raw_[pos_];
      const char high = raw_[pos_ + 1];
      pos_ += 2;
      if (low == '\n' && high == '\0')
        break;
      units += low;
      units += high;
    }
    *line = FromUtf16Le(reinterpret_cast<const std::uint8_t*>(units.data()), units.size());
    StripCr(line);
    return true;
  }

  static void StripCr(std::string* line) {
    if (!line->empty() && line->back() == '\r')
      line->pop_back();
  }

  std::istream& in_;
  bool utf16_ = false;
  std::string pending_;
  std::string raw_;
  std::size_t pos_ = 0;
};

// Reads a quoted string that begins at `*i` (the opening quote), with its
// escapes, and moves `*i` past the closing quote. Answers false when the
// closing quote is missing.
bool ReadQuoted(const std::string& line, std::size_t* i, std::string* text) {
  text->clear();
  std::size_t at = *i + 1;
  while (at < line.size()) {
    const char c = line[at];
    if (c == '"') {
      *i = at + 1;
      return true;
    }
    if (c == '\\' && at + 1 < line.size()) {
      const char next = line[at + 1];
      at += 2;
      switch (next) {
        case '\\':
          *text += '\\';
          break;
        case '"':
          *text += '"';
          break;
        case 'n':
          *text += '\n';
          break;
        case 'r':
          *text += '\r';
          break;
        case '0':
          *text += '\0';
          break;
        default:
          *text += '\\';
          *text += next;
      }
      continue;
    }
    *text += c;
    ++at;
  }
  return false;
}

// Hexadecimal number of at most `max_digits` digits at `*i`.
bool ReadHexNumber(const std::string& text, std::size_t* i, std::size_t max_digits,
                   std::uint32_t* number) {
  std::size_t digits = 0;
  *number = 0;
  while (*i < text.size() && DigitValue(text[*i]) >= 0) {
    if (++digits > max_digits)
      return false;
    *number = *number << 4 | static_cast<std::uint32_t>(DigitValue(text[*i]));
    ++*i;
  }
  return digits > 0;
}

// Comma-separated bytes of one or two hex digits each, with spaces and
// comments ignored; a last comma is allowed.
bool ReadHexBytes(const std::string& text, std::size_t i, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  bool need_byte = false;
  for (;;) {
    i = SkipSpaces(text, i);
    if (i == text.size() || text[i] == ';')
      return !need_byte || !bytes->empty();
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && DigitValue(text[i]) >= 0 && i - start < 2)
      value = value << 4 | DigitValue(text[i++]);
    if (i == start)
      return false;
    bytes->push_back(static_cast<std::uint8_t>(value));
    i = SkipSpaces(text, i);
    if (i == text.size() || text[i] == ';')
      return true;
    if (text[i] != ',')
      return false;
    ++i;
    need_byte = true;
  }
}

class Parser {
 public:
  Parser(LineReader* lines, RegFileHandler* handler) : lines_(*lines), handler_(*handler) {}

  bool Run() {
    std::string line;
    if (!NextLine(&line)) {
      handler_.Problem(1, "the file is empty; a registry file begins with \"REGEDIT4\" or \"" +
                              std::string(kVersion5Header) + "\"");
      return false;
    }
    TrimRight(&line);
    if (line == kRegedit4Header) {
      unicode_ = false;
    } else if (line == kVersion5Header) {
      unicode_ = true;
    } else {
      handler_.Problem(1, "not a registry file: it must begin with \"REGEDIT4\" or \"" +
                              std::string(kVersion5Header) + "\"");
      return false;
    }
    while (NextLine(&line)) {
      if (!Line(&line))
        return false;
    }
    return true;
  }

 private:
  bool NextLine(std::string* line) {
    if (!lines_.Next(line))
      return false;
    ++line_number_;
    return true;
  }

  bool Line(std::string* line) {
    TrimRight(line);
    const std::size_t start = SkipSpaces(*line, 0);
    if (start == line->size() || (*line)[start] == ';')
      return true;
    const int number = line_number_;
    if ((*line)[start] == '[') {
      const std::size_t close = line->rfind(']');
      if (close == std::string::npos || close < start) {
        have_key_ = false;
        handler_.Problem(number, "a key line must end with \"]\"");
        return true;
      }
      const bool remove = start + 1 < close && (*line)[start + 1] == '-';
      const std::string name = line->substr(start + 1 + remove, close - start - 1 - remove);
      have_key_ = !remove;
      return handler_.Key(name, remove, number);
    }
    if ((*line)[start] != '"' && (*line)[start] != '@') {
      handler_.Problem(number, "not a key line, a value line or a comment");
      return true;
    }
    std::string name;
    std::size_t i = start + 1;
    if ((*line)[start] == '"') {
      i = start;
      if (!ReadQuoted(*line, &i, &name)) {
        SkipContinuation(*line);
        handler_.Problem(number, "the value name has no closing quote");
        return true;
      }
    }
    i = SkipSpaces(*line, i);
    if (i == line->size() || (*line)[i] != '=') {
      SkipContinuation(*line);
      handler_.Problem(number, "\"=\" is missing after the value name");
      return true;
    }
    i = SkipSpaces(*line, i + 1);
    if (StartsWithWord(*line, i, "hex"))
      JoinContinuation(line);
    std::string problem;
    bool remove = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (!ParseData(*line, i, &remove, &type, &data, &problem)) {
      handler_.Problem(number, problem);
      return true;
    }
    if (!have_key_) {
      handler_.Problem(number, "a value line must follow a key line");
      return true;
    }
    return handler_.Value(name, remove, type, data, number);
  }

  // A hex line that ends with "\" goes on in the next line.
  void JoinContinuation(std::string* line) {
    std::string next;
    while (!line->empty() && line->back() == '\\') {
      line->pop_back();
      if (!NextLine(&next))
        return;
      TrimRight(&next);
      const std::size_t comment = next.find(';');
      if (comment != std::string::npos) {
        next.erase(comment);
        TrimRight(&next);
      }
      line->append(next, SkipSpaces(next, 0), std::string::npos);
    }
  }

  void SkipContinuation(const std::string& line) {
    std::string copy = line;
    JoinContinuation(&copy);
  }

  bool ParseData(const std::string& line, std::size_t i, bool* remove, std::uint32_t* type,
                 std::vector<std::uint8_t>* data, std::string* problem) {
    if (i < line.size() && line[i] == '-' && OnlyCommentAfter(line, i + 1)) {
      *remove = true;
      return true;
    }
    if (i < line.size() && line[i] == '"') {
      std::string text;
      if (!ReadQuoted(line, &i, &text)) {
        *problem = "the string has no closing quote";
        return false;
      }
      if (!OnlyCommentAfter(line, i)) {
        *problem = "unexpected text after the string";
        return false;
      }
      *type = plat::kRegSz;
      data->assign(text.begin(), text.end());
      data->push_back(0);
      return true;
    }
    if (StartsWithWord(line, i, "dword:")) {
      i += 6;
      std::uint32_t number = 0;
      if (!ReadHexNumber(line, &i, 8, &number) || !OnlyCommentAfter(line, i)) {
        *problem = "a dword must be 1 to 8 hexadecimal digits";
        return false;
      }
      *type = plat::kRegDword;
      data->assign({static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                    static_cast<std::uint8_t>(number >> 16),
                    static_cast<std::uint8_t>(number >> 24)});
      return true;
    }
    if (StartsWithWord(line, i, "hex")) {
      i += 3;
      *type = plat::kRegBinary;
      if (i < line.size() && line[i] == '(') {
        ++i;
        if (!ReadHexNumber(line, &i, 8, type) || i >= line.size() || line[i] != ')') {
          *problem = "the type in hex(...) must be 1 to 8 hexadecimal digits";
          return false;
        }
        ++i;
      }
      if (i >= line.size() || line[i] != ':') {
        *problem = "\":\" is missing after hex";
        return false;
      }
      if (!ReadHexBytes(line, i + 1, data)) {
        *problem = "hex data must be bytes of two hexadecimal digits separated by commas";
        return false;
      }
      if (unicode_ && IsStringType(*type)) {
        const std::string text = FromUtf16Le(data->data(), data->size());
        data->assign(text.begin(), text.end());
      }
      return true;
    }
    *problem = "the data must be a quoted string, dword:, hex:, hex(N): or -";
    return false;
  }

  LineReader& lines_;
  RegFileHandler& handler_;
  bool unicode_ = false;
  bool have_key_ = false;
  int line_number_ = 0;
};

// Appends the text in quotes, with \, ", CR and LF escaped.
void AppendQuoted(std::string_view text, std::string* out) {
  *out += '"';
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' && c != '"' && c != '\n' && c != '\r')
      continue;
    out->append(text, start, i - start);
    *out += '\\';
    *out += c == '\n' ? 'n' : c == '\r' ? 'r' : c;
    start = i + 1;
  }
  out->append(text, start, std::string_view::npos);
  *out += '"';
}

void AppendHex32(std::uint32_t number, int digits, std::string* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    *out += kDigits[number >> shift & 15];
}

// Whether REG_SZ data can be written as "text": exactly one NUL, at the end,
// and no line break, which the quoted form cannot hold in every reader.
bool QuotableText(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || data[size - 1] != 0)
    return false;
  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n')
      return false;
  }
  return true;
}

}  // namespace

bool ReadRegFile(std::istream& in, RegFileHandler* handler) {
  LineReader lines(in);
  return Parser(&lines, handler).Run();
}

void AppendRegFileValue(std::string_view name, std::uint32_t type, const std::uint8_t* data,
                        std::size_t size, RegFormat format, std::string* line) {
  const std::size_t line_start = line->size();
  if (name.empty())
    *line += '@';
  else
    AppendQuoted(name, line);
  *line += '=';
  if (type == plat::kRegSz && QuotableText(data, size)) {
    AppendQuoted(std::string_view(reinterpret_cast<const char*>(data), size - 1), line);
    return;
  }
  if (type == plat::kRegDword && size == 4) {
    *line += "dword:";
    AppendHex32(static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                           static_cast<std::uint32_t>(data[3]) << 24),
                8, line);
    return;
  }
  std::string wide;
  if (format == RegFormat::kVersion5 && IsStringType(type)) {
    AppendUtf16Le(std::string_view(reinterpret_cast<const char*>(data), size), &wide);
    data = reinterpret_cast<const std::uint8_t*>(wide.data());
    size = wide.size();
  }
  if (type == plat::kRegBinary) {
    *line += "hex:";
  } else {
    *line += "hex(";
    int digits = 1;
    while (digits < 8 && (type >> (4 * digits)) != 0)
      ++digits;
    AppendHex32(type, digits, line);
    *line += "):";
  }
  // Bytes as "xx," pairs; a line that reaches 77 characters continues on the
  // next one after a backslash, indented by two spaces, as the Windows
  // registry editor writes them.
  static const char kDigits[] = "0123456789abcdef";
  std::size_t line_length = line->size() - line_start;
  // Written in place: room for every pair, comma and line break, cut to
  // what was used at the end.
  const std::size_t start = line->size();
  line->resize(start + size * 3 + (size / 24 + 1) * 5);
  char* out = line->data() + start;
  for (std::size_t i = 0; i < size; ++i) {
    *out++ = kDigits[data[i] >> 4];
    *out++ = kDigits[data[i] & 15];
    if (i + 1 == size)
      break;
    *out++ = ',';
    line_length += 3;
    if (line_length >= 77) {
      std::memcpy(out, "\\\r\n  ", 5);
      out += 5;
      line_length = 2;
    }
  }
  line->resize(static_cast<std::size_t>(out - line->data()));
}

std::string RegFileValueText(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                             std::size_t size, RegFormat format) {
  std::string line;
  AppendRegFileValue(name, type, data, size, format, &line);
  return line;
}

RegFileWriter::RegFileWriter(Output* out, RegFormat format) : out_(out), format_(format) {}

void RegFileWriter::Emit(const std::string& text) {
  if (format_ == RegFormat::kRegedit4) {
    out_->Write(text);
    return;
  }
  encoded_.clear();
  AppendUtf16Le(text, &encoded_);
  out_->Write(encoded_);
}

void RegFileWriter::Header() {
  if (format_ == RegFormat::kVersion5) {
    out_->Write("\xFF\xFE");
    Emit(std::string(kVersion5Header) + "\r\n\r\n");
  } else {
    Emit(std::string(kRegedit4Header) + "\r\n\r\n");
  }
}

void RegFileWriter::Key(const std::string& full_name) {
  Finish();
  line_.assign("[").append(full_name).append("]\r\n");
  Emit(line_);
  in_key_ = true;
}

void RegFileWriter::Value(std::string_view name, std::uint32_t type, const std::uint8_t* data,
                          std::size_t size) {
  line_.clear();
  AppendRegFileValue(name, type, data, size, format_, &line_);
  line_ += "\r\n";
  Emit(line_);
}

void RegFileWriter::Finish() {
  if (in_key_)
    Emit("\r\n");
  in_key_ = false;
}

}  // namespace regstore_tool
