// regstore add KEY: creates a key and sets a value in it.
#include <string>
#include <vector>

#include "regdefs/value_types.h"
#include "regstore_tool/command.h"
#include "regstore_tool/value_text.h"

namespace regstore_tool {

namespace {

int RunAdd(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() != 1)
    return context.Usage("add", "add takes one key");
  if (line.Has("v") && line.Has("ve"))
    return context.Usage("add", "give /v or /ve, not both");
  std::uint32_t type = kRegSz;
  if (line.Has("t")) {
    const TypeNameUse use = ParseTypeName(line.Value("t"), &type);
    if (use == TypeNameUse::kNotAdded)
      return context.Usage("add", "unsupported registry data type " + line.Value("t"));
    if (use == TypeNameUse::kUnknown)
      return context.Usage("add", "unknown type '" + line.Value("t") +
                                      "': give REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, "
                                      "REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY or REG_NONE");
  }
  // The separator counts for REG_MULTI_SZ data only; reg.exe takes it with
  // any type.
  std::string separator = "\\0";
  if (line.Has("s")) {
    if (line.Value("s").size() != 1)
      return context.Usage("add", "the separator of /s must be one character");
    if (type == kRegMultiSz)
      separator = line.Value("s");
  }
  // reg.exe refuses a dword without /d, but takes a qword without one as 0;
  // /d "" is the number 0 for both.
  if ((type == kRegDword || type == kRegDwordBigEndian) && !line.Has("d"))
    return context.Usage("add", TypeName(type) + " needs its number: give /d");
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
  // Without /v or /ve the value is the unnamed one, as with /ve: a new key
  // gets its empty unnamed value.
  const std::string name = line.Value("v");
  const std::string shown = name.empty() ? std::string(regdefs::kUnnamedValueShown) : name;
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
  return context.Done();
}

}  // namespace

extern const CommandSpec kAddCommand = {
    "add",
    StoreUse::kWrites,
    "add a key or set a value",
    "add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]",
    "Creates KEY (and the keys above it) and sets a value in it: the unnamed value\n"
    "unless /v names another; without /t and /d, an empty REG_SZ.\n",
    {},
    {
        {"v", "NAME", "the value to set"},
        {"ve", nullptr, "the unnamed value (also without /v)"},
        {"t", "TYPE",
         "REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD\n"
         "(REG_DWORD_LITTLE_ENDIAN), REG_DWORD_BIG_ENDIAN, REG_QWORD,\n"
         "REG_BINARY or REG_NONE"},
        {"d", "DATA",
         "the data: text for REG_SZ, REG_EXPAND_SZ and REG_NONE; a decimal or\n"
         "0x hexadecimal number for the REG_DWORD types and REG_QWORD (needed);\n"
         "hexadecimal digits for REG_BINARY; for REG_MULTI_SZ strings separated\n"
         "by \\0, none of them empty (one separator may end the last)"},
        {"s", "SEP",
         "the separator of REG_MULTI_SZ strings instead of \\0 (one character;\n"
         "ignored for other types)"},
        {"f", nullptr, "overwrite an existing value without asking"},
    },
    "Without /f an existing value is overwritten only when the user, asked on a\n"
    "terminal, agrees; without a terminal the command fails.\n",
    RunAdd,
};

}  // namespace regstore_tool
