// regstore export KEY [FILE]: a key and everything below it as a .reg file.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "regstore_tool/command.h"
#include "regstore_tool/reg_file_writer.h"

namespace regstore_tool {

namespace {

// Output that shows control characters escaped, for a terminal; line ends
// stay as they are.
class EscapingOutput : public Output {
 public:
  explicit EscapingOutput(Output* out) : out_(out) {}
  ~EscapingOutput() override { Flush(); }
  bool IsTerminal() const override { return out_->IsTerminal(); }

 protected:
  int WriteOut(const char* data, std::size_t size) override {
    std::string_view text(data, size);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find_first_of("\r\n", start);
      if (end == std::string_view::npos)
        end = text.size();
      out_->Write(Shown(text.substr(start, end - start)));
      if (end < text.size())
        out_->Write(text.substr(end, 1));
      start = end + 1;
    }
    return out_->Flush() ? 0 : out_->error();
  }

 private:
  Output* out_;
};

class ExportWriter : public KeyVisitor {
 public:
  ExportWriter(RegFileWriter* writer, const KeyName& top, Output* out)
      : writer_(*writer), top_(top), out_(*out) {}
  bool Key(const std::string& path) override {
    writer_.Key(top_.FullNameAt(path));
    return out_.error() == 0;
  }
  bool Value(const ValueView& value) override {
    writer_.Value(value.name, value.type, value.data, value.size);
    return out_.error() == 0;
  }
  bool Subkey(std::string_view) override { return true; }

 private:
  RegFileWriter& writer_;
  const KeyName& top_;
  Output& out_;
};

int RunExport(CommandContext& context, const CommandLine& line) {
  if (line.operands.empty() || line.operands.size() > 2)
    return context.Usage("export", "export takes a key and, optionally, a file name");
  KeyName key;
  int code = context.ParseKey("export", line.operands[0], &key);
  if (code != kSuccess)
    return code;
  const std::string file = line.operands.size() == 2 ? line.operands[1] : std::string("-");
  const bool to_stdout = file == "-";
  if (!to_stdout && FileExists(file) && !line.Has("y") &&
      !context.Ask("The file " + file + " exists. Overwrite it",
                   "the file " + file + " exists; give /y to overwrite it", &code))
    return code;
  code = context.OpenStore(false);
  if (code == kSuccess)
    code = context.FindKey(&key);
  if (code != kSuccess)
    return code;

  FileOutput file_out;
  Output* target = &context.out();
  if (!to_stdout) {
    const int error = file_out.Open(file);
    if (error != 0)
      return context.Error("cannot write the file " + file + ": " + std::strerror(error));
    target = &file_out;
  }
  // On a terminal the text is shown, not kept: control characters escaped.
  std::unique_ptr<EscapingOutput> escaping;
  const RegFormat format = line.Has("5") ? RegFormat::kVersion5 : RegFormat::kRegedit4;
  if (to_stdout && context.out().IsTerminal() && format == RegFormat::kRegedit4) {
    escaping = std::make_unique<EscapingOutput>(&context.out());
    target = escaping.get();
  }
  RegFileWriter writer(target, format);
  writer.Header();
  ExportWriter visitor(&writer, key, target);
  const Status status = WalkKey(key, true, &visitor);
  writer.Finish();
  const bool written = target->Flush();
  if (to_stdout) {
    escaping.reset();
    if (!written || !context.out().Flush())
      return context.OutputStatus(kFailure);
  } else {
    const int error = file_out.Close();
    if (error != 0)
      return context.Error("cannot write the file " + file + ": " + std::strerror(error));
  }
  if (status != kErrorSuccess)
    return context.StoreError("cannot read the registry key " + key.AsWritten(), status);
  return to_stdout ? kSuccess : context.Done();
}

}  // namespace

extern const CommandSpec kExportCommand = {
    "export",
    StoreUse::kReads,
    "write a key and everything below it as a .reg file",
    "export KEY [FILE] [/y] [/5]",
    "Writes KEY and every key below it, with their values, as a registry file:\n"
    "\"REGEDIT4\" with 8-bit text, as Windows' registry editor writes it.\n",
    {{"FILE", nullptr, "the file to write; without it, or with -, standard output"}},
    {
        {"y", nullptr, "overwrite an existing FILE without asking"},
        {"5", nullptr, "\"Windows Registry Editor Version 5.00\" in UTF-16LE, as reg.exe writes"},
    },
    "Names and data are written exactly as the store holds them, except on a\n"
    "terminal, where control characters are shown escaped.\n",
    RunExport,
};

}  // namespace regstore_tool
