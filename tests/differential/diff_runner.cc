// The Windows half of the differential test, run under Wine: imports each
// configuration file of a list with the Windows program, one after another
// in one Wine session, and writes for each what the registry then holds
// below Software\Mardovan of every root key (and beside it, see TestKeys) and
// the texts of the message boxes the program showed (each box is read and
// closed as it appears). Before each file those keys are deleted again.
//
// Usage:
//   diff_runner run PROGRAM LIST   LIST holds lines "config file<TAB>output file"
//   diff_runner cases              which bytes of the code page name the same key
//   diff_runner probe              the answers of the registry calls to paths of
//                                  lengths around the limits and to a leading
//                                  backslash under each root key
//
// The output uses the normalised form of run.py: printable ASCII as it is,
// every other byte as \xNN.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/windows_wrapper.h"

namespace {

struct Root {
  HKEY key;
  const char* name;
};

const Root kRoots[] = {{HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
                       {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
                       {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
                       {HKEY_USERS, "HKEY_USERS"},
                       {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}};

const char kSubtree[] = "Software\\Mardovan";

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string Hex(const unsigned char* data, DWORD size) {
  std::string out;
  for (DWORD i = 0; i < size; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), "%02x", data[i]);
    out += hex;
  }
  return out;
}

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr)
      RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Appends the key's values and, below it, every key with its values.
void DumpKey(HKEY parent, const std::string& name, const std::string& path,
             std::vector<std::string>* lines) {
  Key key;
  LONG rc = RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, key.Out());
  if (rc != ERROR_SUCCESS) {
    lines->push_back("key " + Escaped(path) + " unreadable " + std::to_string(rc));
    return;
  }
  lines->push_back("key " + Escaped(path));
  std::vector<std::string> values;
  std::vector<char> value_name(70000);
  std::vector<unsigned char> data(1 << 16);
  for (DWORD index = 0;; ++index) {
    DWORD name_size = static_cast<DWORD>(value_name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueA(key.get(), index, value_name.data(), &name_size, nullptr, &type, data.data(),
                       &data_size);
    if (rc == ERROR_MORE_DATA) {
      data.resize(data_size + 16);
      --index;
      continue;
    }
    if (rc != ERROR_SUCCESS)
      break;
    values.push_back("value " + Escaped(path) + " \"" +
                     Escaped(std::string(value_name.data(), name_size)) + "\" " +
                     std::to_string(type) + " " + Hex(data.data(), data_size));
  }
  std::sort(values.begin(), values.end());
  lines->insert(lines->end(), values.begin(), values.end());
  std::vector<std::string> subkeys;
  char subkey[1024];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof(subkey);
    if (RegEnumKeyExA(key.get(), index, subkey, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.emplace_back(subkey, size);
  }
  for (const std::string& subkey_name : subkeys)
    DumpKey(key.get(), subkey_name, path + "\\" + subkey_name, lines);
}

// The keys of the test below Software of a root key: Mardovan, and the keys
// beside it whose names begin as it does (a key line that loses its last
// character or gains a "]" makes "Mardova" or "Mardovan]").
std::vector<std::string> TestKeys(HKEY root) {
  std::vector<std::string> names;
  Key software;
  if (RegOpenKeyExA(root, "Software", 0, KEY_READ, software.Out()) != ERROR_SUCCESS)
    return names;
  char name[1024];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof(name);
    if (RegEnumKeyExA(software.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    if (size >= 7 && _strnicmp(name, "Mardova", 7) == 0)
      names.push_back(std::string("Software\\") + std::string(name, size));
  }
  return names;
}

std::vector<std::string> Dump() {
  std::vector<std::string> lines;
  for (const Root& root : kRoots) {
    for (const std::string& path : TestKeys(root.key))
      DumpKey(root.key, path, std::string(root.name) + "\\" + path, &lines);
  }
  return lines;
}

void Wipe() {
  for (const Root& root : kRoots) {
    for (const std::string& path : TestKeys(root.key))
      RegDeleteTreeA(root.key, path.c_str());
  }
}

struct Watch {
  DWORD process_id;
  std::vector<HWND> closed;
  std::vector<std::string>* messages;
};

BOOL CALLBACK LongestStatic(HWND child, LPARAM param) {
  char class_name[32] = "";
  GetClassNameA(child, class_name, sizeof(class_name));
  if (lstrcmpiA(class_name, "Static") == 0) {
    std::vector<char> text(70000);
    const int length = GetWindowTextA(child, text.data(), static_cast<int>(text.size()));
    auto* longest = reinterpret_cast<std::string*>(param);
    if (length > 0 && static_cast<std::size_t>(length) > longest->size())
      longest->assign(text.data(), static_cast<std::size_t>(length));
  }
  return TRUE;
}

// Reads and closes each dialog box of the watched process once.
BOOL CALLBACK CloseBoxes(HWND window, LPARAM param) {
  auto* watch = reinterpret_cast<Watch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != watch->process_id || !IsWindowVisible(window))
    return TRUE;
  char class_name[32] = "";
  GetClassNameA(window, class_name, sizeof(class_name));
  if (std::strcmp(class_name, "#32770") != 0)
    return TRUE;
  if (std::find(watch->closed.begin(), watch->closed.end(), window) != watch->closed.end())
    return TRUE;
  char caption[1024] = "";
  const int caption_length = GetWindowTextA(window, caption, sizeof(caption));
  std::string text;
  EnumChildWindows(window, LongestStatic, reinterpret_cast<LPARAM>(&text));
  // The box holds CR LF where the program's text has them; the normalised
  // form has LF.
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      continue;
    plain += text[i];
  }
  watch->messages->push_back(
      "message " +
      Escaped(std::string(caption, static_cast<std::size_t>(std::max(caption_length, 0)))) + " | " +
      Escaped(plain));
  watch->closed.push_back(window);
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

std::vector<std::string> RunProgram(const std::string& program, const std::string& config) {
  std::vector<std::string> messages;
  std::string command = "\"" + program + "\" /IC " + config;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    messages.push_back("runner cannot start the program: " + std::to_string(GetLastError()));
    return messages;
  }
  Watch watch{process.dwProcessId, {}, &messages};
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD waited = WaitForSingleObject(process.hProcess, 15);
    EnumWindows(CloseBoxes, reinterpret_cast<LPARAM>(&watch));
    if (waited == WAIT_OBJECT_0)
      break;
    if (GetTickCount() - start > 60000) {
      TerminateProcess(process.hProcess, 1);
      messages.push_back("runner: the program did not end within 60 s");
      WaitForSingleObject(process.hProcess, INFINITE);
      break;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  if (code != 0)
    messages.push_back("exit code " + std::to_string(code));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return messages;
}

int Run(const std::string& program, const char* list_file) {
  std::ifstream list(list_file, std::ios::binary);
  if (!list) {
    std::fprintf(stderr, "diff_runner: cannot read %s\n", list_file);
    return 1;
  }
  // Windows that Wine leaves to a window manager wait for one (up to two
  // seconds) when they close; the virtual display has none.
  Key driver;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, driver.Out(), nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(driver.get(), "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
  }
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos)
      continue;
    Wipe();
    std::vector<std::string> out = RunProgram(program, line.substr(0, tab));
    const std::vector<std::string> registry = Dump();
    out.insert(out.end(), registry.begin(), registry.end());
    std::ofstream file(line.substr(tab + 1), std::ios::binary | std::ios::trunc);
    for (const std::string& text : out)
      file << text << '\n';
    if (!file) {
      std::fprintf(stderr, "diff_runner: cannot write %s\n", line.substr(tab + 1).c_str());
      return 1;
    }
  }
  Wipe();
  return 0;
}

// The answers of RegCreateKeyExA and RegOpenKeyExA (KEY_ALL_ACCESS, as the
// program's write check asks) for paths whose last name or whole length lies
// around the limits, and for a leading backslash under each root key.
int Probe() {
  std::printf("code page %u\n", GetACP());
  const std::string base = "Software\\Mardovan\\";
  auto try_path = [&](HKEY root, const std::string& path, const char* what) {
    Key created;
    DWORD disposition = 0;
    const LONG create = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        created.Out(), &disposition);
    Key opened;
    const LONG open = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, opened.Out());
    std::printf("%s: create %ld open %ld\n", what, create, open);
  };
  for (std::size_t name = 253; name <= 258; ++name) {
    // Directly below the root key, where the whole path is the one name.
    const std::string what = "name of " + std::to_string(name) + " characters below the root";
    const std::string path(name, 'n');
    try_path(HKEY_CURRENT_USER, path, what.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
  }
  for (std::size_t total = 250; total <= 270; ++total) {
    // Names of 30 characters and a shorter last one.
    std::string path = base;
    while (path.size() + 31 < total)
      path += std::string(30, 'p') + "\\";
    path += std::string(total - path.size(), 'q');
    const std::string what = "path of " + std::to_string(path.size()) + " characters";
    try_path(HKEY_CURRENT_USER, path, what.c_str());
  }
  for (const Root& root : kRoots) {
    const std::string what = std::string("leading backslash under ") + root.name;
    try_path(root.key, "\\" + base + "Lead", what.c_str());
    Key opened;
    const LONG open = RegOpenKeyExA(root.key, (base + "Lead").c_str(), 0, KEY_READ, opened.Out());
    std::printf("  then %s\\%sLead without it: open %ld\n", root.name, base.c_str(), open);
    // A key that exists already, opened with a leading backslash.
    Key made;
    RegCreateKeyExA(root.key, (base + "Made").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    made.Out(), nullptr);
    const std::string existing = std::string("existing key, leading backslash, under ") + root.name;
    try_path(root.key, "\\" + base + "Made", existing.c_str());
    try_path(root.key, "\\Software", (std::string("\\Software under ") + root.name).c_str());
    try_path(root.key, "\\\\Software", (std::string("\\\\Software under ") + root.name).c_str());
    try_path(root.key, "Software\\\\Mardovan",
             (std::string("Software\\\\Mardovan under ") + root.name).c_str());
    try_path(root.key, "Software\\Mardovan\\",
             (std::string("Software\\Mardovan\\ under ") + root.name).c_str());
    try_path(root.key, "\\", (std::string("\\ under ") + root.name).c_str());
  }
  Wipe();
  return 0;
}

// Which bytes of the code page name the same key: each byte's key is made
// in turn, and a byte whose key already existed prints the byte that made it.
int Cases() {
  std::printf("code page %u\n", GetACP());
  for (int c = 1; c < 256; ++c) {
    if (c == '\\')
      continue;
    const std::string path = std::string(kSubtree) + "\\F" + static_cast<char>(c);
    Key key;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.Out(), &disposition) != ERROR_SUCCESS) {
      std::printf("%02x refused\n", c);
      continue;
    }
    const unsigned char byte = static_cast<unsigned char>(c);
    if (disposition == REG_CREATED_NEW_KEY) {
      RegSetValueExA(key.get(), "", 0, REG_BINARY, &byte, 1);
      continue;
    }
    unsigned char first = 0;
    DWORD size = 1;
    RegQueryValueExA(key.get(), "", nullptr, nullptr, &first, &size);
    std::printf("%02x %02x\n", c, first);
  }
  Wipe();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "run") == 0)
    return Run(argv[2], argv[3]);
  if (argc == 2 && std::strcmp(argv[1], "probe") == 0)
    return Probe();
  if (argc == 2 && std::strcmp(argv[1], "cases") == 0)
    return Cases();
  std::fprintf(stderr, "usage: diff_runner run PROGRAM LIST | diff_runner probe\n");
  return 2;
}
