// regstore copy KEY1 KEY2: copies values (and with /s subkeys) into a key.
#include <string>

#include "regstore/names.h"
#include "regstore_tool/command.h"

namespace regstore_tool {

namespace {

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

int RunCopy(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() != 2)
    return context.Usage("copy", "copy takes two keys");
  KeyName from;
  KeyName to;
  int code = context.ParseKey("copy", line.operands[0], &from);
  if (code == kSuccess)
    code = context.ParseKey("copy", line.operands[1], &to);
  if (code == kSuccess)
    code = context.OpenStore(false);
  if (code == kSuccess)
    code = context.FindKey(&from);
  if (code != kSuccess)
    return code;
  KeyName existing = to;
  const bool target_exists = LookUpKey(&existing) == kErrorSuccess;
  if (target_exists)
    to = existing;
  if (from.root == to.root && regstore::SameName(from.path, to.path))
    return context.Error("a key cannot be copied onto itself: " + from.AsWritten());
  const bool recursive = line.Has("s");
  if (recursive && from.root == to.root &&
      (from.path.empty() || (to.path.size() > from.path.size() &&
                             regstore::SameName(to.path.substr(0, from.path.size()), from.path) &&
                             to.path[from.path.size()] == '\\')))
    return context.Error("a key cannot be copied with /s into a key below it: " + to.AsWritten());
  if (target_exists && !line.Has("f") &&
      !context.Ask(
          "The registry key " + to.AsWritten() + " exists. Overwrite the values it has in common",
          "the registry key " + to.AsWritten() + " exists; give /f to overwrite its values", &code))
    return code;
  const Status status = CopyKey(from, to, recursive);
  if (status != kErrorSuccess)
    return context.StoreError("cannot copy " + from.AsWritten() + " to " + to.AsWritten(), status);
  return context.Done();
}

}  // namespace

extern const CommandSpec kCopyCommand = {
    "copy",
    StoreUse::kWrites,
    "copy the values (and subkeys) of one key into another",
    "copy KEY1 KEY2 [/s] [/f]",
    "Copies the values of KEY1 into KEY2, which is created when missing.\n",
    {},
    {
        {"s", nullptr, "also every key below KEY1, with its values"},
        {"f", nullptr, "overwrite values in an existing KEY2 without asking"},
    },
    "Without /f, when KEY2 exists, the user is asked on a terminal; without a\n"
    "terminal the command fails. KEY2 may not lie below KEY1 with /s.\n",
    RunCopy,
};

}  // namespace regstore_tool
