#include "regstore_tool/cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string_view>

#include "regstore/names.h"
#include "regstore_tool/help.h"
#include "regstore_tool/options.h"
#include "regstore_tool/reg_file_reader.h"
#include "regstore_tool/reg_file_writer.h"
#include "regstore_tool/store_access.h"
#include "regstore_tool/text.h"
#include "regstore_tool/value_text.h"

namespace regstore_tool {

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// ---------------------------------------------------------------------------
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
      out_->Write(VisibleText(text.substr(start, end - start)));
      if (end < text.size())
        out_->Write(text.substr(end, 1));
      start = end + 1;
    }
    return out_->Flush() ? 0 : out_->error();
  }

 private:
  Output* out_;
};

// ---------------------------------------------------------------------------

class Command {
 public:
  Command(Output& out, Output& err, Console& console) : out_(out), err_(err), console_(console) {}
  int Run(const std::vector<std::string>& args);

 private:
  // Messages.
  int Usage(const std::string& command, const std::string& problem);
  int Error(const std::string& message);
  void Note(const std::string& message);
  int Done(const std::string& message = "The operation completed successfully.");
  // Answers kFailure after reporting a failed write of the output.
  int OutputStatus(int code);
  std::string Shown(std::string_view name) { return VisibleText(name); }

  // Keys.
  int ParseKey(const std::string& command, const std::string& text, KeyName* key);
  int OpenStore(bool may_create);
  int FindKey(KeyName* key);
  // The key `text` names, which must exist, in a store that must exist.
  int ExistingKey(const std::string& command, const std::string& text, KeyName* key);
  int StoreError(const std::string& what, Status status);
  bool Ask(const std::string& question, const std::string& refusal, int* code);

  int Help(const std::vector<std::string>& operands);
  int Query(const CommandLine& line);
  int Export(const CommandLine& line);
  int Add(const CommandLine& line);
  int Delete(const CommandLine& line);
  int Copy(const CommandLine& line);
  int Import(const CommandLine& line);
  int ChangeFlags(const std::string& command, const CommandLine& line, std::uint32_t set,
                  std::uint32_t clear);

  Output& out_;
  Output& err_;
  Console& console_;
  bool json_ = false;
};

int Command::Usage(const std::string& command, const std::string& problem) {
  if (json_) {
    err_ << "{\"error\": " << JsonString(problem) << ", \"status\": 2}\n";
  } else {
    err_ << "regstore: " << Shown(problem) << "\n";
    err_ << (command.empty() ? std::string("Type \"regstore help\" for usage.\n")
                             : "Type \"regstore " + command + " /?\" for usage.\n");
  }
  err_.Flush();
  return kUsageError;
}

int Command::Error(const std::string& text) {
  // A sentence: capitalised, with a full stop.
  std::string message = text;
  if (!message.empty() && message[0] >= 'a' && message[0] <= 'z')
    message[0] = static_cast<char>(message[0] - 'a' + 'A');
  if (!message.empty() && message.back() != '.' && message.back() != ')')
    message += '.';
  if (json_)
    err_ << "{\"error\": " << JsonString(message) << ", \"status\": 1}\n";
  else
    err_ << "regstore: ERROR: " << Shown(message) << "\n";
  err_.Flush();
  return kFailure;
}

void Command::Note(const std::string& message) {
  if (json_)
    err_ << "{\"warning\": " << JsonString(message) << "}\n";
  else
    err_ << "regstore: " << Shown(message) << "\n";
}

int Command::Done(const std::string& message) {
  if (json_)
    out_ << "{\"status\": 0, \"message\": " << JsonString(message) << "}\n";
  else
    out_ << message << "\n";
  return OutputStatus(kSuccess);
}

int Command::OutputStatus(int code) {
  if (out_.Flush())
    return code;
  const int error = out_.error();
  // Nothing more can be written there; the message goes to standard error.
  Error(std::string("cannot write the output: ") + std::strerror(error));
  return kFailure;
}

int Command::StoreError(const std::string& what, Status status) {
  std::string reason;
  switch (status) {
    case kErrorFileNotFound:
      reason = "the system was unable to find the specified registry key or value";
      break;
    case kErrorAccessDenied:
      if (StoreIsReadOnly())
        reason = "the registry store " + StorePath() + " is read-only";
      else
        reason =
            "access is denied: the key, a key above it or a key below it is protected, or "
            "its values are locked";
      break;
    case kErrorBusy:
      reason = "the registry store is busy: another program holds it";
      break;
    case kErrorDiskFull:
      reason = "the disk is full";
      break;
    default:
      reason = "error " + std::to_string(status);
  }
  return Error(what + ": " + reason);
}

int Command::ParseKey(const std::string& command, const std::string& text, KeyName* key) {
  if (!SplitKeyName(text, key))
    return Usage(command, "Invalid key name '" + text +
                              "': it must begin with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, "
                              "HKEY_LOCAL_MACHINE, HKEY_USERS or HKEY_CURRENT_CONFIG (or HKCR, "
                              "HKCU, HKLM, HKU, HKCC)");
  return kSuccess;
}

int Command::OpenStore(bool may_create) {
  const std::string path = StorePath();
  if (!may_create && !FileExists(path))
    return Error("the registry store " + path +
                 " does not exist (is REGSTORE set to the right file?)");
  std::string detail;
  if (ConnectStore(&detail) != kErrorSuccess)
    return Error("cannot use the registry store " + path + ": " + detail);
  return kSuccess;
}

int Command::FindKey(KeyName* key) {
  const Status status = LookUpKey(key);
  if (status == kErrorFileNotFound)
    return Error("the registry key " + key->FullName() + " does not exist");
  if (status != kErrorSuccess)
    return StoreError("cannot read the registry key " + key->FullName(), status);
  return kSuccess;
}

int Command::ExistingKey(const std::string& command, const std::string& text, KeyName* key) {
  int code = ParseKey(command, text, key);
  if (code == kSuccess)
    code = OpenStore(false);
  if (code == kSuccess)
    code = FindKey(key);
  return code;
}

bool Command::Ask(const std::string& question, const std::string& refusal, int* code) {
  if (!console_.Interactive()) {
    *code = Error(refusal);
    return false;
  }
  err_.Flush();
  out_.Flush();
  if (console_.Confirm(Shown(question) + " (Yes/No)? "))
    return true;
  *code = Error("the operation was cancelled");
  return false;
}

int Command::Help(const std::vector<std::string>& operands) {
  if (operands.size() > 1)
    return Usage("help", "help takes at most one command name");
  if (operands.empty()) {
    out_ << OverviewText();
  } else {
    const CommandHelp* help = FindHelp(LowerAscii(operands[0]));
    if (!help)
      return Usage("", "unknown command '" + operands[0] + "'");
    out_ << help->text;
  }
  return OutputStatus(kSuccess);
}

// --- query -------------------------------------------------------------------

class QueryPrinter : public KeyVisitor {
 public:
  QueryPrinter(Output* out, const KeyName& top, bool recursive, bool json, const std::string* only)
      : out_(*out), top_(top), recursive_(recursive), json_(json), only_(only) {}

  void Begin() { out_ << (json_ ? "{\"keys\": [" : "\n"); }
  void End() {
    FinishKey();
    if (json_)
      out_ << (keys_ ? "\n]}\n" : "]}\n");
  }
  std::size_t matches() const { return matches_; }

  bool Key(const std::string& path) override {
    FinishKey();
    full_name_ = top_.FullNameAt(path);
    key_shown_ = false;
    values_ = 0;
    subkeys_ = 0;
    if (!only_)
      ShowKey();
    return out_.error() == 0;
  }

  bool Value(const ValueView& value) override {
    if (only_ && !regstore::SameName(value.name, *only_))
      return true;
    ShowKey();
    ++matches_;
    if (json_) {
      out_ << (values_ ? ",\n    " : "\n    ") << "{\"name\": " << JsonString(value.name)
           << ", \"type\": \"" << TypeName(value.type) << "\", \"data\": " << JsonData(value)
           << "}";
    } else {
      out_ << "    ";
      WriteVisible(value.name.empty() ? std::string_view("(Default)") : value.name);
      out_ << "    " << TypeName(value.type) << "    ";
      WriteVisible(QueryData(value));
      out_ << "\n";
    }
    ++values_;
    return out_.error() == 0;
  }

  bool Subkey(std::string_view name) override {
    if (only_)
      return true;
    if (json_) {
      if (subkeys_ == 0)
        out_ << "],\n   \"subkeys\": [";
      out_ << (subkeys_ ? ", " : "") << JsonString(name);
    } else {
      if (subkeys_ == 0 && values_ > 0)
        out_ << "\n";
      out_ << VisibleText(full_name_) << "\\" << VisibleText(name) << "\n";
    }
    ++subkeys_;
    return out_.error() == 0;
  }

 private:
  // Text with its control characters escaped, copied only when it has any.
  void WriteVisible(std::string_view text) {
    if (HasControlCharacters(text))
      out_.Write(VisibleText(text));
    else
      out_.Write(text);
  }

  void ShowKey() {
    if (key_shown_)
      return;
    key_shown_ = true;
    if (json_)
      out_ << (keys_ ? ",\n" : "\n") << "  {\"key\": " << JsonString(full_name_)
           << ",\n   \"values\": [";
    else
      out_ << VisibleText(full_name_) << "\n";
    ++keys_;
  }

  void FinishKey() {
    if (!key_shown_)
      return;
    key_shown_ = false;
    if (json_) {
      if (subkeys_ > 0)
        out_ << "]}";
      else if (!recursive_ && !only_)
        out_ << (values_ ? "\n   ],\n   \"subkeys\": []}" : "],\n   \"subkeys\": []}");
      else
        out_ << (values_ ? "\n   ]}" : "]}");
    } else if (recursive_ || only_) {
      out_ << "\n";
    } else if (values_ > 0 && subkeys_ == 0) {
      out_ << "\n";
    }
  }

  Output& out_;
  const KeyName& top_;
  bool recursive_;
  bool json_;
  const std::string* only_;
  std::string full_name_;
  bool key_shown_ = false;
  std::size_t keys_ = 0;
  std::size_t values_ = 0;
  std::size_t subkeys_ = 0;
  std::size_t matches_ = 0;
};

int Command::Query(const CommandLine& line) {
  if (line.operands.size() != 1)
    return Usage("query", "query takes one key");
  if (line.Has("v") && line.Has("ve"))
    return Usage("query", "give /v or /ve, not both");
  KeyName key;
  int code = ExistingKey("query", line.operands[0], &key);
  if (code != kSuccess)
    return code;
  const bool recursive = line.Has("s");
  const std::string value_name = line.Value("v");
  const bool one_value = line.Has("v") || line.Has("ve");
  QueryPrinter printer(&out_, key, recursive, json_, one_value ? &value_name : nullptr);
  printer.Begin();
  const Status status = WalkKey(key, recursive, &printer);
  printer.End();
  if (out_.error() != 0)
    return OutputStatus(kFailure);
  if (status != kErrorSuccess)
    return StoreError("cannot read the registry key " + key.FullName(), status);
  if (one_value && recursive && !json_)
    out_ << "End of search: " << std::to_string(printer.matches()) << " match(es) found.\n";
  code = OutputStatus(kSuccess);
  if (code == kSuccess && one_value && printer.matches() == 0)
    return Error("the system was unable to find the specified registry key or value");
  return code;
}

// --- export ------------------------------------------------------------------

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

int Command::Export(const CommandLine& line) {
  if (line.operands.empty() || line.operands.size() > 2)
    return Usage("export", "export takes a key and, optionally, a file name");
  KeyName key;
  int code = ParseKey("export", line.operands[0], &key);
  if (code != kSuccess)
    return code;
  const std::string file = line.operands.size() == 2 ? line.operands[1] : std::string("-");
  const bool to_stdout = file == "-";
  if (!to_stdout && FileExists(file) && !line.Has("y") &&
      !Ask("The file " + file + " exists. Overwrite it",
           "the file " + file + " exists; give /y to overwrite it", &code))
    return code;
  code = OpenStore(false);
  if (code == kSuccess)
    code = FindKey(&key);
  if (code != kSuccess)
    return code;

  FileOutput file_out;
  Output* target = &out_;
  if (!to_stdout) {
    const int error = file_out.Open(file);
    if (error != 0)
      return Error("cannot write the file " + file + ": " + std::strerror(error));
    target = &file_out;
  }
  // On a terminal the text is shown, not kept: control characters escaped.
  std::unique_ptr<EscapingOutput> escaping;
  const RegFormat format = line.Has("5") ? RegFormat::kVersion5 : RegFormat::kRegedit4;
  if (to_stdout && out_.IsTerminal() && format == RegFormat::kRegedit4) {
    escaping = std::make_unique<EscapingOutput>(&out_);
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
    if (!written || !out_.Flush())
      return OutputStatus(kFailure);
  } else {
    const int error = file_out.Close();
    if (error != 0)
      return Error("cannot write the file " + file + ": " + std::strerror(error));
  }
  if (status != kErrorSuccess)
    return StoreError("cannot read the registry key " + key.FullName(), status);
  return to_stdout ? kSuccess : Done();
}

// --- add -----------------------------------------------------------------------

int Command::Add(const CommandLine& line) {
  if (line.operands.size() != 1)
    return Usage("add", "add takes one key");
  if (line.Has("v") && line.Has("ve"))
    return Usage("add", "give /v or /ve, not both");
  const bool value = line.Has("v") || line.Has("ve");
  if (!value && (line.Has("t") || line.Has("d") || line.Has("s")))
    return Usage("add", "/t, /d and /s need /v or /ve");
  std::uint32_t type = kRegSz;
  if (line.Has("t") && !ParseTypeName(line.Value("t"), &type))
    return Usage("add", "unknown type '" + line.Value("t") +
                            "': give REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                            "REG_BINARY or REG_NONE");
  std::string separator = "\\0";
  if (line.Has("s")) {
    if (type != kRegMultiSz)
      return Usage("add", "/s is for REG_MULTI_SZ data only");
    separator = line.Value("s");
    if (separator.size() != 1)
      return Usage("add", "the separator of /s must be one character");
  }
  std::vector<std::uint8_t> data;
  const std::string problem = ParseAddData(type, line.Value("d"), separator, &data);
  if (!problem.empty())
    return Usage("add", problem);
  KeyName key;
  int code = ParseKey("add", line.operands[0], &key);
  if (code == kSuccess)
    code = OpenStore(true);
  if (code != kSuccess)
    return code;

  OpenedKey handle;
  Status status = handle.Create(key);
  if (status != kErrorSuccess)
    return StoreError("cannot create the registry key " + key.FullName(), status);
  if (value) {
    const std::string name = line.Value("v");
    const std::string shown = name.empty() ? "(Default)" : name;
    if (!line.Has("f") && handle.HasValue(name) &&
        !Ask("Value " + shown + " exists, overwrite it",
             "the value " + shown + " exists in " + key.FullName() + "; give /f to overwrite it",
             &code))
      return code;
    status = handle.SetValue(name, type, data);
    if (status == kErrorSuccess)
      status = handle.Close();
    if (status != kErrorSuccess)
      return StoreError("cannot set the value " + shown + " of " + key.FullName(), status);
  } else {
    status = handle.Close();
    if (status != kErrorSuccess)
      return StoreError("cannot create the registry key " + key.FullName(), status);
  }
  return Done();
}

// --- delete --------------------------------------------------------------------

// One key's values and subkeys, read before anything is written: the walk
// reads in one snapshot that a write would end.
class KeyContents : public KeyVisitor {
 public:
  struct Item {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  };
  bool Key(const std::string&) override { return true; }
  bool Value(const ValueView& value) override {
    values.push_back({std::string(value.name), value.type,
                      std::vector<std::uint8_t>(value.data, value.data + value.size)});
    return true;
  }
  bool Subkey(std::string_view name) override {
    subkeys.emplace_back(name);
    return true;
  }
  std::vector<Item> values;
  std::vector<std::string> subkeys;
};

int Command::Delete(const CommandLine& line) {
  if (line.operands.size() != 1)
    return Usage("delete", "delete takes one key");
  const int forms = line.Has("v") + line.Has("ve") + line.Has("va");
  if (forms > 1)
    return Usage("delete", "give one of /v, /ve and /va");
  KeyName key;
  int code = ExistingKey("delete", line.operands[0], &key);
  if (code != kSuccess)
    return code;
  const bool force = line.Has("f");

  if (forms == 0) {
    if (key.path.empty())
      return Error("a root key cannot be deleted: " + key.FullName());
    if (!force && !Ask("Permanently delete the registry key " + key.FullName(),
                       "give /f to delete " + key.FullName() + " without asking", &code))
      return code;
    const Status status = DeleteKeyTree(key);
    if (status != kErrorSuccess)
      return StoreError("cannot delete " + key.FullName(), status);
    return Done();
  }

  std::vector<std::string> names;
  if (line.Has("va")) {
    KeyContents collect;
    const Status status = WalkKey(key, false, &collect);
    if (status != kErrorSuccess)
      return StoreError("cannot read the registry key " + key.FullName(), status);
    for (const KeyContents::Item& item : collect.values)
      names.push_back(item.name);
    if (!force &&
        !Ask("Delete all values under the registry key " + key.FullName(),
             "give /f to delete the values of " + key.FullName() + " without asking", &code))
      return code;
  } else {
    names.push_back(line.Value("v"));
    const std::string shown = names[0].empty() ? "(Default)" : names[0];
    if (!force && !Ask("Delete the registry value " + shown,
                       "give /f to delete the value " + shown + " without asking", &code))
      return code;
  }
  OpenedKey handle;
  Status status = handle.Open(key);
  for (std::size_t i = 0; status == kErrorSuccess && i < names.size(); ++i) {
    status = handle.DeleteValue(names[i]);
    if (status != kErrorSuccess) {
      const std::string shown = names[i].empty() ? "(Default)" : names[i];
      return StoreError("cannot delete the value " + shown + " of " + key.FullName(), status);
    }
  }
  if (status == kErrorSuccess)
    status = handle.Close();
  if (status != kErrorSuccess)
    return StoreError("cannot change " + key.FullName(), status);
  return Done();
}

// --- copy ----------------------------------------------------------------------

Status CopyKey(const KeyName& from, const KeyName& to, bool recursive) {
  KeyContents contents;
  Status status = WalkKey(from, false, &contents);
  if (status != kErrorSuccess)
    return status;
  OpenedKey target;
  status = target.Create(to);
  for (std::size_t i = 0; status == kErrorSuccess && i < contents.values.size(); ++i) {
    const KeyContents::Item& item = contents.values[i];
    status = target.SetValue(item.name, item.type, item.data);
  }
  const Status closed = target.Close();
  if (status == kErrorSuccess)
    status = closed;
  if (!recursive)
    return status;
  for (std::size_t i = 0; status == kErrorSuccess && i < contents.subkeys.size(); ++i) {
    status = CopyKey(from.Child(contents.subkeys[i]), to.Child(contents.subkeys[i]), true);
  }
  return status;
}

int Command::Copy(const CommandLine& line) {
  if (line.operands.size() != 2)
    return Usage("copy", "copy takes two keys");
  KeyName from;
  KeyName to;
  int code = ParseKey("copy", line.operands[0], &from);
  if (code == kSuccess)
    code = ParseKey("copy", line.operands[1], &to);
  if (code == kSuccess)
    code = OpenStore(false);
  if (code == kSuccess)
    code = FindKey(&from);
  if (code != kSuccess)
    return code;
  KeyName existing = to;
  const bool target_exists = LookUpKey(&existing) == kErrorSuccess;
  if (target_exists)
    to = existing;
  if (from.root == to.root && regstore::SameName(from.path, to.path))
    return Error("a key cannot be copied onto itself: " + from.FullName());
  const bool recursive = line.Has("s");
  if (recursive && from.root == to.root &&
      (from.path.empty() || (to.path.size() > from.path.size() &&
                             regstore::SameName(to.path.substr(0, from.path.size()), from.path) &&
                             to.path[from.path.size()] == '\\')))
    return Error("a key cannot be copied with /s into a key below it: " + to.FullName());
  if (target_exists && !line.Has("f") &&
      !Ask("The registry key " + to.FullName() + " exists. Overwrite the values it has in common",
           "the registry key " + to.FullName() + " exists; give /f to overwrite its values", &code))
    return code;
  const Status status = CopyKey(from, to, recursive);
  if (status != kErrorSuccess)
    return StoreError("cannot copy " + from.FullName() + " to " + to.FullName(), status);
  return Done();
}

// --- import --------------------------------------------------------------------

class Importer : public RegFileHandler {
 public:
  Importer(const std::string& file, const std::function<void(const std::string&)>& note)
      : file_(file), note_(note) {}

  bool Key(const std::string& name, bool remove, int line) override {
    Status status = key_.Close();
    if (status != kErrorSuccess)
      Fail(line, "cannot write " + current_.FullName(), status);
    have_key_ = false;
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
        Problem(line, "a root key cannot be deleted: " + key.FullName());
        return true;
      }
      status = DeleteKeyTree(key);
      if (status != kErrorSuccess && status != kErrorFileNotFound)
        Fail(line, "cannot delete " + key.FullName(), status);
      return true;
    }
    status = key_.Create(key);
    if (status != kErrorSuccess) {
      Fail(line, "cannot create " + key.FullName(), status);
      return true;
    }
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
        Fail(line, "cannot delete the value " + shown + " of " + current_.FullName(), status);
      return true;
    }
    const Status status = key_.SetValue(name, type, data);
    if (status != kErrorSuccess)
      Fail(line, "cannot set the value " + shown + " of " + current_.FullName(), status);
    return true;
  }

  // A skipped line is a warning: the import goes on and succeeds, as the
  // registry's own tools let it.
  void Problem(int line, const std::string& message) override {
    note_(file_ + ":" + std::to_string(line) + ": " + message);
  }

  void Finish() {
    const Status status = key_.Close();
    if (status != kErrorSuccess)
      Fail(0, "cannot write " + current_.FullName(), status);
  }
  // The changes the store refused.
  std::size_t failures() const { return failures_; }

 private:
  void Fail(int line, const std::string& what, Status status) {
    ++failures_;
    std::string reason = "error " + std::to_string(status);
    if (status == kErrorAccessDenied)
      reason = StoreIsReadOnly() ? "the store is read-only" : "access is denied";
    else if (status == kErrorBusy)
      reason = "the store is busy";
    else if (status == kErrorDiskFull)
      reason = "the disk is full";
    Problem(line, what + ": " + reason);
  }

  std::string file_;
  std::function<void(const std::string&)> note_;
  OpenedKey key_;
  KeyName current_;
  bool have_key_ = false;
  std::size_t failures_ = 0;
};

int Command::Import(const CommandLine& line) {
  if (line.operands.size() != 1)
    return Usage("import", "import takes one file name");
  const std::string& file = line.operands[0];
  std::ifstream stream;
  std::istream* in = &console_.Input();
  if (file != "-") {
    struct stat info;
    if (::stat(file.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      return Error("cannot read the file " + file + ": " + std::strerror(EISDIR));
    stream.open(file, std::ios::binary);
    if (!stream)
      return Error("cannot read the file " + file + ": " + std::strerror(errno));
    in = &stream;
  }
  const int code = OpenStore(true);
  if (code != kSuccess)
    return code;
  const std::string shown_file = file == "-" ? "(standard input)" : file;
  Importer importer(shown_file, [this](const std::string& message) { Note(message); });
  const bool read = ReadRegFile(*in, &importer);
  importer.Finish();
  err_.Flush();
  if (in->bad())
    return Error("cannot read the file " + shown_file);
  if (!read)
    return Error(shown_file + " is not a registry file; nothing was imported");
  if (importer.failures() > 0)
    return Error(std::to_string(importer.failures()) + " change(s) of " + shown_file +
                 " could not be written");
  return Done();
}

// --- protect, lock ---------------------------------------------------------------

int Command::ChangeFlags(const std::string& command, const CommandLine& line, std::uint32_t set,
                         std::uint32_t clear) {
  if (line.operands.size() != 1)
    return Usage(command, command + " takes one key");
  KeyName key;
  int code = ParseKey(command, line.operands[0], &key);
  if (code == kSuccess)
    code = OpenStore(false);
  if (code == kSuccess)
    code = FindKey(&key);
  if (code != kSuccess)
    return code;
  const Status status = ChangeKeyFlags(key, set, clear);
  if (status != kErrorSuccess)
    return StoreError("cannot change " + key.FullName(), status);
  return Done();
}

// --- dispatch --------------------------------------------------------------------

const std::vector<OptionRule>& OptionsOf(const std::string& command) {
  static const std::vector<OptionRule> kNone;
  static const std::vector<OptionRule> kQuery = {{"v", true}, {"ve", false}, {"s", false}};
  static const std::vector<OptionRule> kAdd = {{"v", true}, {"ve", false}, {"t", true},
                                               {"d", true}, {"s", true},   {"f", false}};
  static const std::vector<OptionRule> kDelete = {
      {"v", true}, {"ve", false}, {"va", false}, {"f", false}};
  static const std::vector<OptionRule> kCopy = {{"s", false}, {"f", false}};
  static const std::vector<OptionRule> kExport = {{"y", false}, {"5", false}};
  if (command == "query")
    return kQuery;
  if (command == "add")
    return kAdd;
  if (command == "delete")
    return kDelete;
  if (command == "copy")
    return kCopy;
  if (command == "export")
    return kExport;
  return kNone;
}

int Command::Run(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (LowerAscii(arg) == "--json" || LowerAscii(arg) == "/json")
      json_ = true;
  }
  if (args.empty())
    return Usage("", "no command given");
  std::string command = LowerAscii(args[0]);
  if (command == "--help" || command == "-h" || command == "/?" || command == "-?")
    command = "help";
  if (!FindHelp(command))
    return Usage("", "unknown command '" + args[0] + "'");
  CommandLine line;
  const std::string problem = ParseCommandLine(args, 1, OptionsOf(command), &line);
  if (!problem.empty())
    return Usage(command, problem);
  if (line.help)
    return Help({command});
  if (command == "help")
    return Help(line.operands);
  if (command == "query")
    return Query(line);
  if (command == "export")
    return Export(line);
  if (command == "add")
    return Add(line);
  if (command == "delete")
    return Delete(line);
  if (command == "copy")
    return Copy(line);
  if (command == "import")
    return Import(line);
  if (command == "protect")
    return ChangeFlags(command, line, kKeyProtected, 0);
  if (command == "unprotect")
    return ChangeFlags(command, line, 0, kKeyProtected);
  if (command == "lock")
    return ChangeFlags(command, line, kKeyValuesLocked, 0);
  return ChangeFlags(command, line, 0, kKeyValuesLocked);
}

}  // namespace

bool TerminalConsole::Interactive() {
  return ::isatty(0) == 1;
}

bool TerminalConsole::Confirm(const std::string& question) {
  std::fputs(question.c_str(), stderr);
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer))
    return false;
  answer = LowerAscii(answer);
  return answer == "y" || answer == "yes";
}

std::istream& TerminalConsole::Input() {
  return std::cin;
}

int RunRegstore(const std::vector<std::string>& args, Output& out, Output& err, Console& console) {
  return Command(out, err, console).Run(args);
}

}  // namespace regstore_tool
