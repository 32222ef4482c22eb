#include "import/config_check.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "common/exceptions.h"
#include "common/globals.h"
#include "import/config_line.h"
#include "import/imp_exp_reg.h"
#include "import/text_reader.h"
#include "platform/ui.h"

namespace {

// A text in double quotes, with the characters that would hide what it holds
// escaped: quote, backslash, tab, CR, LF and the other control bytes.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof(escape), "\\x%02x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string ValueNameShown(std::string_view name) {
  return name.empty() ? std::string("(Default)") : Quoted(name);
}

std::string DwordShown(std::int32_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%08x (%d)", static_cast<unsigned>(value),
                static_cast<int>(value));
  return text;
}

std::string BytesShown(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty())
    return "(no bytes)";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), i == 0 ? "%02x" : ",%02x", bytes[i]);
    text += pair;
  }
  return text;
}

class Checker {
 public:
  Checker(plat::RegKey root, const std::string& file_name, const std::string& expected_product,
          std::uint8_t import_scope, RunOutcome& outcome, std::ostream& out)
      : root_(root),
        location_(plat::MessageFileName(file_name) + ":"),
        expected_product_(expected_product),
        import_scope_(import_scope),
        outcome_(outcome),
        out_(out) {}

  // Checks the lines of an open file; answers false where the import would
  // stop.
  bool CheckLines(TTextReader& reader) {
    may_write_ = ImportScopeAllows(root_, import_scope_);
    while (!reader.Eof()) {
      std::string_view line = reader.ReadLineView();
      line_ = reader.LineNumber();
      if (!CheckLine(line))
        return false;
    }
    return true;
  }

  void Summary() {
    out_ << location_ << " " << keys_ << (keys_ == 1 ? " key, " : " keys, ") << values_
         << (values_ == 1 ? " value, " : " values, ") << warnings_
         << (warnings_ == 1 ? " warning" : " warnings") << "\n";
  }

  void FileError(const EInOutError& error, std::uint64_t line) {
    outcome_.Note(RunEvent::kFileUnreadable);
    std::string reason = error.Message();
    if (!error.SystemText().empty())
      reason += " (" + error.SystemText() + ")";
    out_ << location_;
    if (line != 0)
      out_ << line << ":";
    out_ << " error: cannot read the file: " << reason << "\n";
  }

 private:
  bool CheckLine(std::string_view line) {
    switch (ClassifyLine(line)) {
      case LineKind::kBlank:
      case LineKind::kIgnored:
        return true;
      case LineKind::kKey:
        CheckKey(line);
        return true;
      case LineKind::kProduct: {
        std::string_view product = ProductNameOf(line);
        if (product == expected_product_)
          return true;
        outcome_.Note(RunEvent::kWrongProduct);
        Report("error", "the file belongs to " + Quoted(product) + ", not to " +
                            Quoted(expected_product_) + ": the import stops here");
        return false;
      }
      case LineKind::kRoot:
        CheckRoot(line);
        return true;
      case LineKind::kValue:
        return CheckValue(line);
    }
    return true;
  }

  void CheckKey(std::string_view line) {
    key_open_ = false;
    std::string_view path = KeyPathOf(line);
    if (line.back() != ']') {
      Warn(
          "the key line does not end in \"]\": its last character is dropped all the same, "
          "and the key is " +
          Quoted(path));
    }
    if (!may_write_) {
      Skip("the key line writes nothing: " + std::string(NameOfRootKey(current_root_)) +
           " may not be written");
      return;
    }
    if (!path.empty() && path[0] == '\\') {
      outcome_.Note(RunEvent::kWriteRefused);
      may_write_ = false;
      Warn(
          "the key path begins with \"\\\": the registry refuses it, and nothing is written "
          "until the next root line");
      return;
    }
    key_path_.assign(path);
    key_open_ = true;
    ++keys_;
    Say("key " + std::string(NameOfRootKey(current_root_)) + "\\" + key_path_);
  }

  void CheckRoot(std::string_view line) {
    key_open_ = false;
    std::string_view name = RootNameOf(line);
    plat::RegKey named = plat::kNullKey;
    if (RootKeyOfName(name, &named)) {
      current_root_ = named;
    } else {
      Warn("unknown root " + Quoted(name) + ": the keys that follow stay below " +
           std::string(NameOfRootKey(current_root_)));
    }
    may_write_ = ImportScopeAllows(current_root_, import_scope_);
  }

  bool CheckValue(std::string_view line) {
    if (static_cast<unsigned char>(line[0]) <= 0x20 && line[0] != '\t') {
      Skip("the line begins with a space: it is read as a value line, and writes nothing");
      return true;
    }
    ValueFields fields = SplitValueLine(line);
    const ValueType type = ValueTypeOf(fields.type_word);
    if (type == ValueType::kNone) {
      if (line.find('\t') == std::string_view::npos) {
        Skip("a value line without a tab: it writes nothing");
      } else {
        Skip("unknown type word " + Quoted(fields.type_word) +
             " (string, integer or binary): the line writes nothing");
      }
      return true;
    }
    if (!may_write_) {
      Skip("the value line writes nothing: its key may not be written");
      return true;
    }
    if (!key_open_) {
      outcome_.Note(RunEvent::kWriteFailed);
      Report("error",
             "a value line with no key line before it (since the start of the file or "
             "the last root line): the import stops here with \"Failed to set data for '" +
                 std::string(fields.name) + "'\"");
      return false;
    }
    std::string shown;
    switch (type) {
      case ValueType::kString:
        shown = "REG_SZ " + Quoted(fields.text);
        break;
      case ValueType::kInteger:
        shown = "REG_DWORD " + CheckInteger(fields.text);
        break;
      case ValueType::kBinary:
        shown = "REG_BINARY " + CheckBinary(fields.text);
        break;
      case ValueType::kNone:
        break;
    }
    ++values_;
    Say("value " + std::string(NameOfRootKey(current_root_)) + "\\" + key_path_ + " " +
        ValueNameShown(fields.name) + " " + shown);
    return true;
  }

  std::string CheckInteger(std::string_view text) {
    IntegerReading reading = ReadLocaleInteger(text, NumberChars());
    std::string value = DwordShown(reading.value);
    if (reading.out_of_range) {
      Warn("integer text " + Quoted(text) +
           " does not fit in 32 bits: the digits stop before the one that would pass "
           "0xFFFFFFFF, and the value is " +
           value);
    } else if (!reading.has_digits) {
      Warn("integer text " + Quoted(text) + " has no digits: the value is 0");
    } else if (!reading.whole) {
      Warn("integer text " + Quoted(text) +
           " is not a whole number: the reading stops at the "
           "first character that is not a digit, and the value is " +
           value);
    }
    return value;
  }

  std::string CheckBinary(std::string_view text) {
    if (text.size() % 3 != 0) {
      Warn("binary text of " + std::to_string(text.size()) +
           " characters: every byte takes three (two digits and a separator), so the last " +
           std::to_string(text.size() % 3) + " give no byte");
    }
    return BytesShown(HexTripletsToBytes(text));
  }

  void Say(const std::string& text) { out_ << location_ << line_ << ": " << text << "\n"; }
  void Report(const char* kind, const std::string& text) {
    out_ << location_ << line_ << ": " << kind << ": " << text << "\n";
  }
  void Warn(const std::string& text) {
    ++warnings_;
    Report("warning", text);
  }
  void Skip(const std::string& text) {
    outcome_.Note(RunEvent::kLineSkipped);
    Warn(text);
  }

  const plat::RegKey root_;
  const std::string location_;
  const std::string expected_product_;
  const std::uint8_t import_scope_;
  RunOutcome& outcome_;
  std::ostream& out_;

  plat::RegKey current_root_ = root_;
  bool may_write_ = true;
  bool key_open_ = false;
  std::string key_path_;
  std::uint64_t line_ = 0;
  std::size_t keys_ = 0;
  std::size_t values_ = 0;
  std::size_t warnings_ = 0;
};

}  // namespace

void CheckConfigFile(plat::RegKey root, const std::string& file_name,
                     const std::string& expected_product, std::uint8_t import_scope,
                     RunOutcome& outcome, std::ostream& out) {
  Checker checker(root, file_name, expected_product, import_scope, outcome, out);
  TTextReader reader;
  try {
    reader.Open(file_name);
    checker.CheckLines(reader);
    reader.Close();
  } catch (const EInOutError& error) {
    checker.FileError(error, reader.IsOpen() ? reader.LineNumber() : 0);
    return;
  }
  checker.Summary();
}
