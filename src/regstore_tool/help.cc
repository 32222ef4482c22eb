#include "regstore_tool/help.h"

namespace regstore_tool {

namespace {

const CommandHelp kHelp[] = {
    {"query", "show a key's values and subkeys, or one value",
     "Usage: regstore query KEY [/v NAME | /ve] [/s] [--json]\n"
     "\n"
     "Shows the values of KEY and the names of its subkeys.\n"
     "  /v NAME   only the value NAME (with /s: in KEY and every key below it)\n"
     "  /ve       only the unnamed value, shown as (Default)\n"
     "  /s        KEY and every key below it, with their values\n"
     "  --json    one JSON document: {\"keys\": [{\"key\", \"values\": [{\"name\", \"type\",\n"
     "            \"data\"}], \"subkeys\"}]}; data is a string (REG_SZ, REG_EXPAND_SZ), an\n"
     "            array of strings (REG_MULTI_SZ), a number (REG_DWORD, REG_QWORD), or\n"
     "            hexadecimal digits (other types, and data of the wrong size)\n"
     "Control characters in names and data are shown escaped (\\t, \\n, \\x1B).\n"},
    {"add", "add a key or set a value",
     "Usage: regstore add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
     "\n"
     "Creates KEY (and the keys above it) and, with /v or /ve, sets a value in it.\n"
     "  /v NAME   the value to set\n"
     "  /ve       the unnamed value\n"
     "  /t TYPE   REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
     "            REG_QWORD, REG_BINARY or REG_NONE\n"
     "  /d DATA   the data: text for REG_SZ, REG_EXPAND_SZ and REG_NONE; a decimal or\n"
     "            0x hexadecimal number for REG_DWORD and REG_QWORD; hexadecimal\n"
     "            digits for REG_BINARY; for REG_MULTI_SZ strings separated by \\0\n"
     "  /s SEP    the separator of REG_MULTI_SZ strings instead of \\0 (one character)\n"
     "  /f        overwrite an existing value without asking\n"
     "Without /f an existing value is overwritten only when the user, asked on a\n"
     "terminal, agrees; without a terminal the command fails.\n"},
    {"delete", "delete a key, a value or all values of a key",
     "Usage: regstore delete KEY [/v NAME | /ve | /va] [/f]\n"
     "\n"
     "Deletes KEY and everything below it, or values of KEY.\n"
     "  /v NAME   the value NAME\n"
     "  /ve       the unnamed value\n"
     "  /va       every value of KEY (its subkeys stay)\n"
     "  /f        delete without asking\n"
     "Without /f the user is asked on a terminal; without a terminal the command\n"
     "fails. A protected key, or one with a protected key above or below it, is not\n"
     "deleted.\n"},
    {"copy", "copy the values (and subkeys) of one key into another",
     "Usage: regstore copy KEY1 KEY2 [/s] [/f]\n"
     "\n"
     "Copies the values of KEY1 into KEY2, which is created when missing.\n"
     "  /s   also every key below KEY1, with its values\n"
     "  /f   overwrite values in an existing KEY2 without asking\n"
     "Without /f, when KEY2 exists, the user is asked on a terminal; without a\n"
     "terminal the command fails. KEY2 may not lie below KEY1 with /s.\n"},
    {"import", "import a .reg file",
     "Usage: regstore import FILE\n"
     "\n"
     "Writes the keys and values of a registry file (\"REGEDIT4\" or \"Windows\n"
     "Registry Editor Version 5.00\", 8-bit, UTF-8 or UTF-16LE) into the store; - reads\n"
     "standard input. [-KEY] deletes a key, \"NAME\"=- a value. A line that cannot be\n"
     "read or written is reported with its number and skipped; the command then\n"
     "fails after importing the rest.\n"},
    {"export", "write a key and everything below it as a .reg file",
     "Usage: regstore export KEY [FILE] [/y] [/5]\n"
     "\n"
     "Writes KEY and every key below it, with their values, as a registry file:\n"
     "\"REGEDIT4\" with 8-bit text, as Windows' registry editor writes it.\n"
     "  FILE   the file to write; without it, or with -, standard output\n"
     "  /y     overwrite an existing FILE without asking\n"
     "  /5     \"Windows Registry Editor Version 5.00\" in UTF-16LE, as reg.exe writes\n"
     "Names and data are written exactly as the store holds them, except on a\n"
     "terminal, where control characters are shown escaped.\n"},
    {"protect", "refuse write access to a key and everything below it",
     "Usage: regstore protect KEY\n"
     "\n"
     "A protected key cannot be opened for writing by programs, nor can any key\n"
     "below it; regstore delete refuses it too.\n"},
    {"unprotect", "undo protect", "Usage: regstore unprotect KEY\n"},
    {"lock", "let a key open for writing but refuse changes to its values",
     "Usage: regstore lock KEY\n"},
    {"unlock", "undo lock", "Usage: regstore unlock KEY\n"},
    {"help", "describe the commands", "Usage: regstore help [COMMAND]\n"},
};

const char kOverview[] =
    "regstore: shows and changes the registry store, in the manner of reg.exe.\n"
    "\n"
    "Usage: regstore COMMAND [ARGUMENTS] [--json]\n"
    "\n";

const char kOverviewEnd[] =
    "\n"
    "KEY begins with a root key: HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER (HKCU),\n"
    "HKEY_LOCAL_MACHINE (HKLM), HKEY_USERS (HKU) or HKEY_CURRENT_CONFIG (HKCC).\n"
    "Commands and options may be written in any letter case; options begin with\n"
    "/ or -. `regstore COMMAND /?` describes a command.\n"
    "The store is the file named by REGSTORE, else $XDG_DATA_HOME/regstore/registry.db\n"
    "(~/.local/share/regstore/registry.db); only add, copy and import create it.\n"
    "Exit status: 0 success, 1 failure (missing key or value, store or file\n"
    "unusable, confirmation refused), 2 wrong command line (bad root key too).\n";

}  // namespace

std::string OverviewText() {
  std::string text = kOverview;
  text += "Commands:\n";
  for (const CommandHelp& help : kHelp) {
    std::string line = "  ";
    line += help.name;
    line.resize(13, ' ');
    text += line + help.summary + "\n";
  }
  return text + kOverviewEnd;
}

const CommandHelp* FindHelp(const std::string& name) {
  for (const CommandHelp& help : kHelp) {
    if (name == help.name)
      return &help;
  }
  return nullptr;
}

}  // namespace regstore_tool
