// regstore import FILE: writes the keys and values of a .reg file, as one
// transaction: the first change the store refuses ends the import, and
// nothing of the file is stored. Lines that cannot be read are reported and
// skipped.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "regstore_tool/command.h"
#include "regstore_tool/reg_file_reader.h"

namespace regstore_tool {

namespace {

class Importer : public RegFileHandler {
 public:
  Importer(const std::string& file, const std::function<void(const std::string&)>& note)
      : file_(file), note_(note) {}

  bool Key(const std::string& name, bool remove, int line) override {
    Status status = key_.Close();
    have_key_ = false;
    if (status != kErrorSuccess)
      return Fail(line, "cannot write " + current_.AsWritten(), status);
    KeyName key;
    // Names reach the store as C strings: a NUL would cut them short.
    if (name.find('\0') != std::string::npos) {
      Problem(line, "a key name cannot hold a NUL character");
      return true;
    }
    if (!SplitKeyName(name, &key)) {
      Problem(line, "the key " + name + " begins with no root key's name");
      return true;
    }
    if (remove) {
      if (key.path.empty()) {
        Problem(line, "a root key cannot be deleted: " + key.AsWritten());
        return true;
      }
      status = DeleteKeyTree(key);
      if (status != kErrorSuccess && status != kErrorFileNotFound)
        return Fail(line, "cannot delete " + key.AsWritten(), status);
      return true;
    }
    status = key_.Create(key);
    if (status != kErrorSuccess)
      return Fail(line, "cannot create " + key.AsWritten(), status);
    current_ = key;
    have_key_ = true;
    return true;
  }

  bool Value(const std::string& name, bool remove, std::uint32_t type,
             const std::vector<std::uint8_t>& data, int line) override {
    if (!have_key_)
      return true;  // the key line was reported
    if (name.find('\0') != std::string::npos) {
      Problem(line, "a value name cannot hold a NUL character");
      return true;
    }
    const std::string shown = name.empty() ? "(Default)" : name;
    if (remove) {
      const Status status = key_.DeleteValue(name);
      if (status != kErrorSuccess && status != kErrorFileNotFound)
        return Fail(line, "cannot delete the value " + shown + " of " + current_.AsWritten(),
                    status);
      return true;
    }
    const Status status = key_.SetValue(name, type, data);
    if (status != kErrorSuccess)
      return Fail(line, "cannot set the value " + shown + " of " + current_.AsWritten(), status);
    return true;
  }

  // A skipped line is a warning: the import goes on and succeeds, as the
  // registry's own tools let it.
  void Problem(int line, const std::string& message) override {
    note_(file_ + ":" + std::to_string(line) + ": " + message);
  }

  // Closes the last key; false when the store refused a change.
  bool Finish(int line) {
    const Status status = key_.Close();
    if (status != kErrorSuccess && !failed_)
      Fail(line, "cannot write " + current_.AsWritten(), status);
    return !failed_;
  }
  bool failed() const { return failed_; }

 private:
  // Reports a change the store refused; answers false, which ends the
  // reading.
  bool Fail(int line, const std::string& what, Status status) {
    failed_ = true;
    note_(file_ + ":" + std::to_string(line) + ": " + what + ": " + StoreFailureReason(status));
    return false;
  }

  std::string file_;
  std::function<void(const std::string&)> note_;
  OpenedKey key_;
  KeyName current_;
  bool have_key_ = false;
  bool failed_ = false;
};

int RunImport(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() != 1)
    return context.Usage("import", "import takes one file name");
  const std::string& file = line.operands[0];
  std::ifstream stream;
  std::istream* in = &context.console().Input();
  if (file != "-") {
    struct stat info;
    if (::stat(file.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      return context.Error("cannot read the file " + file + ": " + std::strerror(EISDIR));
    stream.open(file, std::ios::binary);
    if (!stream)
      return context.Error("cannot read the file " + file + ": " + std::strerror(errno));
    in = &stream;
  }
  const int code = context.OpenStore(true);
  if (code != kSuccess)
    return code;
  const std::string shown_file = file == "-" ? "(standard input)" : file;
  Importer importer(shown_file, [&context](const std::string& message) { context.Note(message); });
  const bool read = ReadRegFile(*in, &importer);
  const bool stored = importer.Finish(0);
  context.err().Flush();
  // Nothing is committed on the way out of a failure: the file's changes
  // are dropped whole.
  const std::string named = file == "-" ? shown_file : "the file " + file;
  if (!stored)
    return context.Error("nothing of " + named + " was imported");
  if (in->bad())
    return context.Error("cannot read " + named + "; nothing was imported");
  if (!read)
    return context.Error(named + " is not a registry file; nothing was imported");
  return context.Done();
}

}  // namespace

extern const CommandSpec kImportCommand = {
    "import",
    StoreUse::kWrites,
    "import a .reg file",
    "import FILE",
    "Writes the keys and values of a registry file (\"REGEDIT4\" or \"Windows\n"
    "Registry Editor Version 5.00\", 8-bit, UTF-8 or UTF-16LE) into the store; - reads\n"
    "standard input. [-KEY] deletes a key, \"NAME\"=- a value. A line that cannot be\n"
    "read is reported with its number and skipped, and the import goes on; a change\n"
    "the store refuses ends it, and then nothing of the file is stored.\n",
    {},
    {},
    "",
    RunImport,
};

}  // namespace regstore_tool
