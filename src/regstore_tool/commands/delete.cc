// regstore delete KEY: deletes a key with everything below it, or values.
#include <string>
#include <vector>

#include "regstore_tool/command.h"

namespace regstore_tool {

namespace {

int RunDelete(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() != 1)
    return context.Usage("delete", "delete takes one key");
  const int forms = line.Has("v") + line.Has("ve") + line.Has("va");
  if (forms > 1)
    return context.Usage("delete", "give one of /v, /ve and /va");
  KeyName key;
  int code = context.ExistingKey("delete", line.operands[0], &key);
  if (code != kSuccess)
    return code;
  const bool force = line.Has("f");

  if (forms == 0) {
    if (key.path.empty())
      return context.Error("a root key cannot be deleted: " + key.AsWritten());
    if (!force && !context.Ask("Permanently delete the registry key " + key.AsWritten(),
                               "give /f to delete " + key.AsWritten() + " without asking", &code))
      return code;
    const Status status = DeleteKeyTree(key);
    if (status != kErrorSuccess)
      return context.StoreError("cannot delete " + key.AsWritten(), status);
    return context.Done();
  }

  std::vector<std::string> names;
  if (line.Has("va")) {
    KeyContents collect;
    const Status status = WalkKey(key, false, &collect);
    if (status != kErrorSuccess)
      return context.StoreError("cannot read the registry key " + key.AsWritten(), status);
    for (const KeyContents::Item& item : collect.values)
      names.push_back(item.name);
    if (!force &&
        !context.Ask("Delete all values under the registry key " + key.AsWritten(),
                     "give /f to delete the values of " + key.AsWritten() + " without asking",
                     &code))
      return code;
  } else {
    names.push_back(line.Value("v"));
    const std::string shown = names[0].empty() ? "(Default)" : names[0];
    if (!force && !context.Ask("Delete the registry value " + shown,
                               "give /f to delete the value " + shown + " without asking", &code))
      return code;
  }
  OpenedKey handle;
  Status status = handle.Open(key);
  for (std::size_t i = 0; status == kErrorSuccess && i < names.size(); ++i) {
    status = handle.DeleteValue(names[i]);
    if (status != kErrorSuccess) {
      const std::string shown = names[i].empty() ? "(Default)" : names[i];
      return context.StoreError("cannot delete the value " + shown + " of " + key.AsWritten(),
                                status);
    }
  }
  if (status == kErrorSuccess)
    status = handle.Close();
  if (status != kErrorSuccess)
    return context.StoreError("cannot change " + key.AsWritten(), status);
  return context.Done();
}

}  // namespace

extern const CommandSpec kDeleteCommand = {
    "delete",
    StoreUse::kWrites,
    "delete a key, a value or all values of a key",
    "delete KEY [/v NAME | /ve | /va] [/f]",
    "Deletes KEY and everything below it, or values of KEY.\n",
    {},
    {
        {"v", "NAME", "the value NAME"},
        {"ve", nullptr, "the unnamed value"},
        {"va", nullptr, "every value of KEY (its subkeys stay)"},
        {"f", nullptr, "delete without asking"},
    },
    "Without /f the user is asked on a terminal; without a terminal the command\n"
    "fails. A protected key, or one with a protected key above or below it, is not\n"
    "deleted.\n",
    RunDelete,
};

}  // namespace regstore_tool
