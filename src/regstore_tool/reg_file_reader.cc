#include "regstore_tool/reg_file_reader.h"

#include "platform/registry.h"
#include "regdefs/hex_digits.h"
#include "regstore_tool/text.h"

namespace regstore_tool {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
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
  while (*i < text.size() && regdefs::HexDigitValue(text[*i]) >= 0) {
    if (++digits > max_digits)
      return false;
    *number = *number << 4 | static_cast<std::uint32_t>(regdefs::HexDigitValue(text[*i]));
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
    while (i < text.size() && regdefs::HexDigitValue(text[i]) >= 0 && i - start < 2)
      value = value << 4 | regdefs::HexDigitValue(text[i++]);
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
      if (unicode_ && IsRegFileStringType(*type)) {
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

}  // namespace

bool ReadRegFile(std::istream& in, RegFileHandler* handler) {
  LineReader lines(in);
  return Parser(&lines, handler).Run();
}

}  // namespace regstore_tool
