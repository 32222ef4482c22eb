#include "regstore_tool/commands.h"

#include <cstdio>
#include <fstream>
#include <functional>

#include "platform/root_keys.h"

namespace regstore_tool {

using namespace plat;
using namespace regstore;

namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  regstore query KEY [/s]      show the key's values (with /s, also below it)\n"
    "  regstore export KEY [FILE]   write KEY and everything below it as REGEDIT4\n"
    "  regstore delete KEY          delete KEY and everything below it\n"
    "  regstore protect KEY         refuse write access to KEY and everything below it\n"
    "  regstore unprotect KEY\n"
    "  regstore lock KEY            let KEY open for writing but refuse value writes\n"
    "  regstore unlock KEY\n"
    "KEY begins with a root key: HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER (HKCU),\n"
    "HKEY_LOCAL_MACHINE (HKLM), HKEY_USERS (HKU) or HKEY_CURRENT_CONFIG (HKCC).\n"
    "The store is the file named by REGSTORE, else $XDG_DATA_HOME/regstore/registry.db.\n";

using RootName = RootKeyEntry;

// The root keys' names as a list: "A, B or C" of `name_of` each.
template <typename NameOf>
std::string ListOfRootNames(NameOf name_of, const char* last_separator) {
  std::string list;
  for (std::size_t i = 0; i < kRootKeyCount; ++i) {
    if (i > 0)
      list += i + 1 == kRootKeyCount ? last_separator : ", ";
    list += name_of(kRootKeys[i]);
  }
  return list;
}

// A key named on the command line, and the same key as the store has it.
struct KeyArg {
  const RootName* root = nullptr;
  std::string path;       // below the root, as given
  std::string full_name;  // the root's full name and the stored path
};

std::string FullName(const RootName& root, const std::string& stored_path) {
  return stored_path.empty() ? std::string(root.name) : std::string(root.name) + "\\" + stored_path;
}

std::string HexBytes(const std::vector<std::uint8_t>& data, bool upper) {
  static const char kLower[] = "0123456789abcdef";
  static const char kUpper[] = "0123456789ABCDEF";
  const char* digits = upper ? kUpper : kLower;
  std::string text;
  for (std::uint8_t byte : data) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::string TypeName(std::uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  if (type < sizeof(kNames) / sizeof(kNames[0]))
    return kNames[type];
  char text[32];
  std::snprintf(text, sizeof(text), "0x%x", type);
  return text;
}

// The data as reg.exe shows it.
std::string QueryData(const StoreValue& value) {
  const std::vector<std::uint8_t>& data = value.data;
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz: {
      std::string text(data.begin(), data.end());
      return text.substr(0, text.find('\0'));
    }
    case kRegMultiSz: {
      std::string text(data.begin(), data.end());
      while (!text.empty() && text.back() == '\0')
        text.pop_back();
      std::string shown;
      for (char c : text)
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
      return shown;
    }
    case kRegDword:
    case kRegQword:
      if (data.size() == (value.type == kRegDword ? 4u : 8u)) {
        unsigned long long number = 0;
        for (std::size_t i = data.size(); i > 0; --i)
          number = number << 8 | data[i - 1];
        char text[32];
        std::snprintf(text, sizeof(text), "0x%llx", number);
        return text;
      }
      return HexBytes(data, true);
    default:
      return HexBytes(data, true);
  }
}

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"')
      quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

// Whether a REG_SZ value can be written as "text": exactly one NUL, at the
// end, and no line break that the quoted form cannot hold.
bool QuotableText(const std::vector<std::uint8_t>& data) {
  if (data.empty() || data.back() != 0)
    return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n')
      return false;
  }
  return true;
}

class Command {
 public:
  Command(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  int Run(const std::vector<std::string>& args);

 private:
  int Usage(const std::string& problem);
  int Error(const std::string& message);
  bool ParseKey(const std::string& text, KeyArg* key, int* code);
  int Query(const KeyArg& key, bool recursive);
  int Export(const KeyArg& key, const std::string& file);
  int Delete(const KeyArg& key);
  int ChangeFlags(const KeyArg& key, std::uint32_t set, std::uint32_t clear);
  bool Walk(const KeyArg& key, const std::string& path,
            const std::function<bool(const std::string& path, const std::string& full_name,
                                     const std::vector<StoreValue>& values,
                                     const std::vector<std::string>& subkeys)>& visit);

  std::ostream& out_;
  std::ostream& err_;
};

int Command::Usage(const std::string& problem) {
  err_ << "regstore: " << problem << "\n" << kUsage;
  return 2;
}

int Command::Error(const std::string& message) {
  err_ << "regstore: ERROR: " << message << "\n";
  return 1;
}

bool Command::ParseKey(const std::string& text, KeyArg* key, int* code) {
  const std::string::size_type slash = text.find('\\');
  const std::string root_name = text.substr(0, slash);
  key->root = RootKeyByAnyName(root_name, SameName);
  if (!key->root) {
    *code =
        Error("Invalid key name '" + text + "': it must begin with " +
              ListOfRootNames([](const RootName& root) { return root.name; }, " or ") + " (or " +
              ListOfRootNames([](const RootName& root) { return root.short_name; }, ", ") + ").");
    return false;
  }
  key->path = slash == std::string::npos ? std::string() : text.substr(slash + 1);

  std::string detail;
  if (ConnectStore(&detail) != kErrorSuccess) {
    *code = Error("Cannot use the registry store " + StorePath() + ": " + detail);
    return false;
  }
  StoreKeyInfo info;
  Status status = StoreFindKey(key->root->key, key->path, &info);
  if (status == kErrorFileNotFound) {
    *code = Error("The registry key " + FullName(*key->root, key->path) + " does not exist.");
    return false;
  }
  if (status != kErrorSuccess) {
    *code = Error("Cannot read the registry key " + FullName(*key->root, key->path) + " (error " +
                  std::to_string(status) + ").");
    return false;
  }
  key->path = info.path;
  key->full_name = FullName(*key->root, info.path);
  return true;
}

bool Command::Walk(
    const KeyArg& key, const std::string& path,
    const std::function<bool(const std::string&, const std::string&, const std::vector<StoreValue>&,
                             const std::vector<std::string>&)>& visit) {
  std::vector<StoreValue> values;
  std::vector<std::string> subkeys;
  if (StoreListValues(key.root->key, path, &values) != kErrorSuccess ||
      StoreListSubkeys(key.root->key, path, &subkeys) != kErrorSuccess) {
    Error("Cannot read the registry key " + FullName(*key.root, path) + ".");
    return false;
  }
  if (!visit(path, FullName(*key.root, path), values, subkeys))
    return true;
  for (const std::string& subkey : subkeys) {
    if (!Walk(key, path.empty() ? subkey : path + "\\" + subkey, visit))
      return false;
  }
  return true;
}

int Command::Query(const KeyArg& key, bool recursive) {
  auto print_values = [&](const std::vector<StoreValue>& values) {
    for (const StoreValue& value : values) {
      out_ << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
           << TypeName(value.type) << "    " << QueryData(value) << "\n";
    }
  };
  out_ << "\n";
  bool ok =
      Walk(key, key.path,
           [&](const std::string&, const std::string& full_name,
               const std::vector<StoreValue>& values, const std::vector<std::string>& subkeys) {
             out_ << full_name << "\n";
             print_values(values);
             if (recursive) {
               out_ << "\n";
               return true;
             }
             if (!values.empty())
               out_ << "\n";
             for (const std::string& subkey : subkeys)
               out_ << full_name << "\\" << subkey << "\n";
             return false;
           });
  return ok ? 0 : 1;
}

int Command::Export(const KeyArg& key, const std::string& file) {
  std::string text = "REGEDIT4\r\n\r\n";
  bool ok = Walk(key, key.path,
                 [&](const std::string&, const std::string& full_name,
                     const std::vector<StoreValue>& values, const std::vector<std::string>&) {
                   text += "[" + full_name + "]\r\n";
                   for (const StoreValue& value : values)
                     text += RegeditValueLine(value) + "\r\n";
                   text += "\r\n";
                   return true;
                 });
  if (!ok)
    return 1;
  if (file.empty()) {
    out_ << text;
    return out_ ? 0 : 1;
  }
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << text;
  stream.close();
  if (!stream)
    return Error("Cannot write the file " + file + ".");
  return 0;
}

int Command::Delete(const KeyArg& key) {
  if (key.path.empty())
    return Error("A root key cannot be deleted: " + key.full_name + ".");
  Status status = StoreDeleteTree(key.root->key, key.path, false);
  if (status == kErrorAccessDenied) {
    if (StoreIsReadOnly())
      return Error("The registry store " + StorePath() + " is read-only.");
    return Error("Access is denied: " + key.full_name +
                 ", a key above it or a key below it is protected.");
  }
  if (status != kErrorSuccess)
    return Error("Cannot delete " + key.full_name + " (error " + std::to_string(status) + ").");
  out_ << "The operation completed successfully.\n";
  return 0;
}

int Command::ChangeFlags(const KeyArg& key, std::uint32_t set, std::uint32_t clear) {
  Status status = StoreChangeKeyFlags(key.root->key, key.path, set, clear);
  if (status == kErrorAccessDenied)
    return Error("The registry store " + StorePath() + " is read-only.");
  if (status != kErrorSuccess)
    return Error("Cannot change " + key.full_name + " (error " + std::to_string(status) + ").");
  out_ << "The operation completed successfully.\n";
  return 0;
}

int Command::Run(const std::vector<std::string>& args) {
  if (args.empty())
    return Usage("no command given");
  const std::string& command = args[0];
  const std::size_t operands = args.size() - 1;
  bool recursive = false;
  if (command == "query") {
    if (operands == 2 && (args[2] == "/s" || args[2] == "/S" || args[2] == "-s"))
      recursive = true;
    else if (operands != 1)
      return Usage("query takes a key and, optionally, /s");
  } else if (command == "export") {
    if (operands != 1 && operands != 2)
      return Usage("export takes a key and, optionally, a file name");
  } else if (command == "delete" || command == "protect" || command == "unprotect" ||
             command == "lock" || command == "unlock") {
    if (operands != 1)
      return Usage(command + " takes one key");
  } else if (command == "help" || command == "--help" || command == "/?") {
    out_ << kUsage;
    return 0;
  } else {
    return Usage("unknown command '" + command + "'");
  }

  KeyArg key;
  int code = 0;
  if (!ParseKey(args[1], &key, &code))
    return code;
  if (command == "query")
    return Query(key, recursive);
  if (command == "export")
    return Export(key, operands == 2 ? args[2] : std::string());
  if (command == "delete")
    return Delete(key);
  if (command == "protect")
    return ChangeFlags(key, kKeyProtected, 0);
  if (command == "unprotect")
    return ChangeFlags(key, 0, kKeyProtected);
  if (command == "lock")
    return ChangeFlags(key, kKeyValuesLocked, 0);
  return ChangeFlags(key, 0, kKeyValuesLocked);
}

}  // namespace

std::string RegeditValueLine(const StoreValue& value) {
  std::string line = value.name.empty() ? "@=" : Quoted(value.name) + "=";
  if (value.type == kRegSz && QuotableText(value.data)) {
    return line + Quoted(std::string(value.data.begin(), value.data.end() - 1));
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    char text[16];
    std::snprintf(text, sizeof(text), "dword:%08x",
                  static_cast<unsigned>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                        static_cast<unsigned>(value.data[3]) << 24));
    return line + text;
  }
  if (value.type == kRegBinary) {
    line += "hex:";
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof(prefix), "hex(%x):", value.type);
    line += prefix;
  }
  // Bytes as "xx," pairs; a line that reaches 77 characters continues on the
  // next one after a backslash, indented by two spaces, as the Windows
  // registry editor writes them.
  std::size_t line_length = line.size();
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    line += HexBytes({value.data[i]}, false);
    if (i + 1 == value.data.size())
      break;
    line += ',';
    line_length += 3;
    if (line_length >= 77) {
      line += "\\\r\n  ";
      line_length = 2;
    }
  }
  return line;
}

int RunRegstore(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return Command(out, err).Run(args);
}

}  // namespace regstore_tool
