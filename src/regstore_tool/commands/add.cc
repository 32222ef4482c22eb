// regstore add KEY: creates a key and sets a value in it.
#include <string>
#include <vector>

#include "regstore_tool/command.h"
#include "regstore_tool/value_text.h"

namespace regstore_tool {

namespace {

int RunAdd(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() != 1)
    return context.Usage("add", "add takes one key");
  if (line.Has("v") && line.Has("ve"))
    return context.Usage("add", "give /v or /ve, not both");
  const bool value = line.Has("v") || line.Has("ve");
  if (!value && (line.Has("t") || line.Has("d") || line.Has("s")))
    return context.Usage("add", "/t, /d and /s need /v or /ve");
  std::uint32_t type = kRegSz;
  if (line.Has("t") && !ParseTypeName(line.Value("t"), &type))
    return context.Usage("add",
                         "unknown type '" + line.Value("t") +
                             "': give REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                             "REG_BINARY or REG_NONE");
  std::string separator = "\\0";
  if (line.Has("s")) {
    if (type != kRegMultiSz)
      return context.Usage("add", "/s is for REG_MULTI_SZ data only");
    separator = line.Value("s");
    if (separator.size() != 1)
      return context.Usage("add", "the separator of /s must be one character");
  }
  std::vector<std::uint8_t> data;
  const std::string problem = ParseAddData(type, line.Value("d"), separator, &data);
  if (!problem.empty())
    return context.Usage("add", problem);
  KeyName key;
  int code = context.ParseKey("add", line.operands[0], &key);
  if (code == kSuccess)
    code = context.OpenStore(true);
  if (code != kSuccess)
    return code;

  OpenedKey handle;
  Status status = handle.Create(key);
  if (status != kErrorSuccess)
    return context.StoreError("cannot create the registry key " + key.AsWritten(), status);
  if (value) {
    const std::string name = line.Value("v");
    const std::string shown = name.empty() ? "(Default)" : name;
    if (!line.Has("f") && handle.HasValue(name) &&
        !context.Ask(
            "Value " + shown + " exists, overwrite it",
            "the value " + shown + " exists in " + key.AsWritten() + "; give /f to overwrite it",
            &code))
      return code;
    status = handle.SetValue(name, type, data);
    if (status == kErrorSuccess)
      status = handle.Close();
    if (status != kErrorSuccess)
      return context.StoreError("cannot set the value " + shown + " of " + key.AsWritten(), status);
  } else {
    status = handle.Close();
    if (status != kErrorSuccess)
      return context.StoreError("cannot create the registry key " + key.AsWritten(), status);
  }
  return context.Done();
}

}  // namespace

extern const CommandSpec kAddCommand = {
    "add",
    StoreUse::kWrites,
    "add a key or set a value",
    "add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]",
    "Creates KEY (and the keys above it) and, with /v or /ve, sets a value in it.\n",
    {},
    {
        {"v", "NAME", "the value to set"},
        {"ve", nullptr, "the unnamed value"},
        {"t", "TYPE",
         "REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
         "REG_QWORD, REG_BINARY or REG_NONE"},
        {"d", "DATA",
         "the data: text for REG_SZ, REG_EXPAND_SZ and REG_NONE; a decimal or\n"
         "0x hexadecimal number for REG_DWORD and REG_QWORD; hexadecimal\n"
         "digits for REG_BINARY; for REG_MULTI_SZ strings separated by \\0"},
        {"s", "SEP", "the separator of REG_MULTI_SZ strings instead of \\0 (one character)"},
        {"f", nullptr, "overwrite an existing value without asking"},
    },
    "Without /f an existing value is overwritten only when the user, asked on a\n"
    "terminal, agrees; without a terminal the command fails.\n",
    RunAdd,
};

}  // namespace regstore_tool
