#include "regstore_tool/command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "regdefs/status_text.h"

namespace regstore_tool {

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::vector<OptionRule> OptionRules(const CommandSpec& command) {
  std::vector<OptionRule> rules;
  for (const CommandOption& option : command.options)
    rules.push_back({option.name, option.value_name != nullptr});
  return rules;
}

namespace {

// "/v NAME" for an option, "FILE" for an operand.
std::string ItemLabel(const CommandOption& item, bool option) {
  std::string label = option ? std::string("/") + item.name : std::string(item.name);
  if (item.value_name)
    label += std::string(" ") + item.value_name;
  return label;
}

}  // namespace

std::string HelpText(const CommandSpec& command) {
  std::string text = std::string("Usage: regstore ") + command.usage + "\n";
  if (*command.intro || !command.operands.empty() || !command.options.empty() || *command.notes)
    text += "\n";
  text += command.intro;
  // The items stand in one column, three spaces after the longest label.
  std::size_t width = 0;
  for (const CommandOption& item : command.operands)
    width = std::max(width, ItemLabel(item, false).size());
  for (const CommandOption& item : command.options)
    width = std::max(width, ItemLabel(item, true).size());
  width += 3;
  auto add_items = [&](const std::vector<CommandOption>& items, bool option) {
    for (const CommandOption& item : items) {
      std::string label = ItemLabel(item, option);
      label.resize(width, ' ');
      std::string help = item.help;
      for (std::size_t at = help.find('\n'); at != std::string::npos && at + 1 < help.size();
           at = help.find('\n', at + 1))
        help.insert(at + 1, std::string(width + 2, ' '));
      text += "  " + label + help + "\n";
    }
  };
  add_items(command.operands, false);
  add_items(command.options, true);
  return text + command.notes;
}

int CommandContext::Usage(const std::string& command, const std::string& problem) {
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

int CommandContext::Error(const std::string& text) {
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

void CommandContext::Note(const std::string& message) {
  if (json_)
    err_ << "{\"warning\": " << JsonString(message) << "}\n";
  else
    err_ << "regstore: " << Shown(message) << "\n";
}

int CommandContext::CommitChanges() {
  if (!writes_ || committed_)
    return kSuccess;
  committed_ = true;
  const Status status = CommitToDisk();
  if (status == kErrorSuccess)
    return kSuccess;
  return Error("the changes were not stored in the registry store " + StorePath() + ": " +
               StoreFailureReason(status));
}

int CommandContext::Done(const std::string& message) {
  if (CommitChanges() != kSuccess)
    return kFailure;
  if (json_)
    out_ << "{\"status\": 0, \"message\": " << JsonString(message) << "}\n";
  else
    out_ << message << "\n";
  return OutputStatus(kSuccess);
}

int CommandContext::OutputStatus(int code) {
  if (out_.Flush())
    return code;
  const int error = out_.error();
  // Nothing more can be written there; the message goes to standard error.
  Error(std::string("cannot write the output: ") + std::strerror(error));
  return kFailure;
}

std::string StoreFailureReason(Status status) {
  // A read-only store refuses every write; naming its file says which.
  if (status == plat::kErrorWriteProtect || (status == kErrorAccessDenied && StoreIsReadOnly()))
    return "the registry store " + StorePath() + " is read-only";
  return regdefs::StatusText(status);
}

int CommandContext::StoreError(const std::string& what, Status status) {
  return Error(what + ": " + StoreFailureReason(status));
}

int CommandContext::ParseKey(const std::string& command, const std::string& text, KeyName* key) {
  // One backslash at the end is taken as none; two name no key, as reg.exe
  // takes them.
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\\\") == 0)
    return Usage(command, "Invalid key name '" + text + "': it ends with two backslashes");
  if (!SplitKeyName(text, key))
    return Usage(command, "Invalid key name '" + text +
                              "': it must begin with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, "
                              "HKEY_LOCAL_MACHINE, HKEY_USERS or HKEY_CURRENT_CONFIG (or HKCR, "
                              "HKCU, HKLM, HKU, HKCC)");
  return kSuccess;
}

int CommandContext::OpenStore(bool may_create) {
  const std::string path = StorePath();
  if (!may_create && !FileExists(path))
    return Error("the registry store " + path +
                 " does not exist (is REGSTORE set to the right file?)");
  std::string detail;
  if (ConnectStore(&detail) != kErrorSuccess)
    return Error("cannot use the registry store " + path + ": " + detail);
  return kSuccess;
}

int CommandContext::FindKey(KeyName* key) {
  const Status status = LookUpKey(key);
  if (status == kErrorFileNotFound)
    return Error("the registry key " + key->AsWritten() + " does not exist");
  if (status != kErrorSuccess)
    return StoreError("cannot read the registry key " + key->AsWritten(), status);
  return kSuccess;
}

int CommandContext::ExistingKey(const std::string& command, const std::string& text, KeyName* key) {
  int code = ParseKey(command, text, key);
  if (code == kSuccess)
    code = OpenStore(false);
  if (code == kSuccess)
    code = FindKey(key);
  return code;
}

bool CommandContext::Ask(const std::string& question, const std::string& refusal, int* code) {
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

int ChangeFlagsCommand(CommandContext& context, const std::string& command, const CommandLine& line,
                       std::uint32_t set, std::uint32_t clear) {
  if (line.operands.size() != 1)
    return context.Usage(command, command + " takes one key");
  KeyName key;
  int code = context.ParseKey(command, line.operands[0], &key);
  if (code == kSuccess)
    code = context.OpenStore(false);
  if (code == kSuccess)
    code = context.FindKey(&key);
  if (code != kSuccess)
    return code;
  const Status status = ChangeKeyFlags(key, set, clear);
  if (status != kErrorSuccess)
    return context.StoreError("cannot change " + key.AsWritten(), status);
  return context.Done();
}

}  // namespace regstore_tool
