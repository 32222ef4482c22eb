#include "regstore_tool/reg_file_writer.h"

#include <cstring>

#include "platform/registry.h"
#include "regstore_tool/text.h"

namespace regstore_tool {

namespace {

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
  if (format == RegFormat::kVersion5 && IsRegFileStringType(type)) {
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
