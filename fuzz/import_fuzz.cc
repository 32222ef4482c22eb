// The whole importer on arbitrary configuration files, against a throwaway
// store: every file must end in one of the import's outcomes, with the
// handshake value telling which, and must leave in the store exactly the keys
// and values that a plain model of the import and of the registry predicts.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/exceptions.h"
#include "common/globals.h"
#include "fuzz_check.h"
#include "import/handshake.h"
#include "import/imp_exp_reg.h"
#include "platform/ui.h"
#include "regstore/regstore.h"
#include "testing/posix/program_runner.h"
#include "testing/reference_lines.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using fuzzing::Check;

const std::string& InputFile() {
  static const std::string path = testing_support::WriteTempFile("", "input.cfg");
  return path;
}

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
const plat::RegKey kRoots[] = {plat::kHkeyClassesRoot, plat::kHkeyCurrentUser,
                               plat::kHkeyLocalMachine, plat::kHkeyUsers, plat::kHkeyCurrentConfig};
constexpr int kCurrentUser = 1;
constexpr int kLocalMachine = 2;

// The registry as Wine's registry behaves in code page 1252: names of keys and
// values compare without regard to letter case and keep the case they were
// made with. The letters that are one letter are those measured there: A to
// Z, the accented letters 0xC0 to 0xDE (but 0xD7) with their lower case 0x20
// above, and the pairs 0x8A/0x9A, 0x8C/0x9C, 0x8E/0x9E and 0x9F/0xFF.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
      c = static_cast<char>(u + 0x20);
    else if (u == 0x8A || u == 0x8C || u == 0x8E)
      c = static_cast<char>(u + 0x10);
    else if (u == 0x9F)
      c = static_cast<char>(0xFF);
  }
  return folded;
}

struct ModelKey {
  std::string name;
  std::map<std::string, std::pair<std::string, testing_support::StoredValue>> values;
  std::map<std::string, ModelKey> children;
};

// A path as the registry's ANSI functions take it: a text up to its first
// NUL, key names between backslashes, empty names skipped. Answers false
// where they refuse the path: more than 260 characters, a leading backslash
// (where `skip_backslash`, one is taken as none), a name longer than 256
// characters, more than 512 levels.
bool SplitPath(const std::string& path, bool skip_backslash, std::vector<std::string>* names) {
  std::string text = path.substr(0, path.find('\0'));
  names->clear();
  if (text.size() > 260)
    return false;
  if (skip_backslash && !text.empty() && text[0] == '\\')
    text.erase(0, 1);
  if (!text.empty() && text[0] == '\\')
    return false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\\', start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start) {
      if (end - start > 256)
        return false;
      names->push_back(text.substr(start, end - start));
    }
    start = end + 1;
  }
  return names->size() <= 512;
}

class Model {
 public:
  Model() {
    for (int i = 0; i < 5; ++i)
      roots_[i].name = kRootNames[i];
  }

  // Finds the key at `names` below the root, making the missing ones when
  // `create`; null when it is missing and not made.
  ModelKey* Find(int root, const std::vector<std::string>& names, bool create) {
    ModelKey* key = &roots_[root];
    for (const std::string& name : names) {
      auto found = key->children.find(Fold(name));
      if (found == key->children.end()) {
        if (!create)
          return nullptr;
        found = key->children.emplace(Fold(name), ModelKey{name, {}, {}}).first;
      }
      key = &found->second;
    }
    return key;
  }

  // The write probe: a key that exists takes and loses a value of the
  // probe's name; a missing one is made.
  // An open of HKEY_CLASSES_ROOT takes one leading backslash as none; a
  // create takes none anywhere.
  bool CanWrite(int root, const std::string& path) {
    std::vector<std::string> names;
    ModelKey* key = SplitPath(path, root == 0, &names) ? Find(root, names, false) : nullptr;
    if (key) {
      key->values.erase(Fold(kProbeValueName));
      return true;
    }
    if (!SplitPath(path, false, &names))
      return false;
    Find(root, names, true);
    return true;
  }

  testing_support::StoreContent Content() const {
    testing_support::StoreContent content;
    for (const ModelKey& root : roots_)
      Add(root, root.name, &content);
    return content;
  }

  ModelKey roots_[5];

 private:
  static void Add(const ModelKey& key, const std::string& path,
                  testing_support::StoreContent* content) {
    auto& values = (*content)[path];
    for (const auto& value : key.values)
      values[value.second.first] = value.second.second;
    for (const auto& child : key.children)
      Add(child.second, path + "\\" + child.second.name, content);
  }
};

void PutValue(ModelKey* key, std::string_view name, std::uint32_t type,
              std::vector<std::uint8_t> data) {
  auto found = key->values.find(Fold(name));
  if (found == key->values.end()) {
    found =
        key->values
            .emplace(Fold(name), std::make_pair(std::string(name), testing_support::StoredValue{}))
            .first;
  }
  found->second.second = testing_support::StoredValue{type, std::move(data)};
}

enum class Outcome { kComplete, kMessage, kRaised };

bool ScopeAllows(int root, int scope) {
  if (root == kCurrentUser)
    return scope == 0 || scope == 2;
  if (root == kLocalMachine)
    return scope == 1 || scope == 2;
  return true;
}

// The import, line by line, on the model.
Outcome Import(const testing_support::Lines& lines, bool show_errors, int scope, Model* model) {
  ModelKey* handshake = model->Find(kCurrentUser, {"Software", "Mardovan"}, true);
  PutValue(handshake, kHandshakeValue, plat::kRegDword, {0, 0, 0, 0});
  int root = kCurrentUser;
  bool may_write = ScopeAllows(root, scope);
  ModelKey* open = nullptr;
  for (const std::string& line : lines) {
    bool blank = true;
    for (char c : line)
      blank = blank && static_cast<unsigned char>(c) <= 0x20;
    if (blank)
      continue;
    if (line[0] == '[') {
      open = nullptr;
      if (!may_write)
        continue;
      std::string path = line.substr(1);
      if (!path.empty())
        path.pop_back();
      if (model->CanWrite(root, path)) {
        // The program's own open takes one leading backslash as none.
        std::vector<std::string> names;
        if (SplitPath(path, true, &names))
          open = model->Find(root, names, true);
      } else if (show_errors) {
        return Outcome::kMessage;
      } else {
        may_write = false;
      }
    } else if (line[0] == '<' && line.size() >= 2 && line[1] == '[') {
      std::string product = line.substr(2);
      if (product.size() >= 2)
        product.resize(product.size() - 2);
      if (product != "Brevlin")
        return Outcome::kMessage;
    } else if (line[0] == '<' && line.size() >= 2 && line[1] == '<') {
      continue;
    } else if (line[0] == '<') {
      open = nullptr;
      std::string name = line.substr(1);
      if (!name.empty())
        name.pop_back();
      for (int i = 0; i < 5; ++i) {
        if (name == kRootNames[i])
          root = i;
      }
      may_write = ScopeAllows(root, scope);
    } else if (may_write) {
      const std::size_t first = line.find('\t');
      if (first == std::string::npos)
        continue;
      const std::size_t second = line.find('\t', first + 1);
      const std::string type = line.substr(0, first);
      const std::string name =
          second == std::string::npos ? "" : line.substr(first + 1, second - first - 1);
      const std::string text = line.substr(second == std::string::npos ? first + 1 : second + 1);
      if (type != "string" && type != "integer" && type != "binary")
        continue;
      // Value names reach the registry up to their first NUL.
      const std::string value_name = name.substr(0, name.find('\0'));
      if (!open || value_name.size() > 16383)
        return Outcome::kRaised;
      if (type == "string") {
        std::vector<std::uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        PutValue(open, value_name, plat::kRegSz, data);
      } else if (type == "integer") {
        const std::uint32_t n = static_cast<std::uint32_t>(LocaleStrToInt(text));
        PutValue(open, value_name, plat::kRegDword,
                 {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                  static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)});
      } else {
        PutValue(open, value_name, plat::kRegBinary, HexTripletsToBytes(text));
      }
    }
  }
  handshake = model->Find(kCurrentUser, {"Software", "Mardovan"}, true);
  handshake->values.erase(Fold(kHandshakeValue));
  return Outcome::kComplete;
}

testing_support::ScopedTestRegistry& Store() {
  static testing_support::ScopedTestRegistry* store = new testing_support::ScopedTestRegistry;
  return *store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1)
    return 0;
  const bool show_errors = data[0] & 1;
  const std::uint8_t scope = static_cast<std::uint8_t>((data[0] >> 1) & 3);
  const std::string_view contents(reinterpret_cast<const char*>(data + 1), size - 1);
  {
    FILE* out = std::fopen(InputFile().c_str(), "wb");
    Check(out != nullptr, "input file opens");
    std::fwrite(contents.data(), 1, contents.size(), out);
    std::fclose(out);
  }
  // Every input starts from an empty store.
  const std::string store = Store().StorePath();
  for (plat::RegKey root : kRoots) {
    Check(regstore::StoreDeleteTree(root, "", true) == plat::kErrorSuccess, "store emptied");
  }

  int messages = 0;
  plat::SetMessageRecorder([&](const plat::ShownMessage& m) {
    ++messages;
    Check(m.caption.rfind("Register Brevlin", 0) == 0, "a message of the importer");
  });
  bool raised = false;
  bool result = false;
  try {
    result = ImportConfigFile(plat::kHkeyCurrentUser, InputFile(), "Brevlin", show_errors,
                              static_cast<ImportScope>(scope));
  } catch (const ERegistryException&) {
    raised = true;
  }
  plat::SetMessageRecorder(nullptr);
  // The program shows what raised in its error box, which commits what the
  // store holds back; so does this, before the store is read.
  plat::FlushPendingWrites();

  auto loading = testing_support::ReadValue(plat::kHkeyCurrentUser, kHandshakeKey, kHandshakeValue);
  if (result) {
    Check(messages == 0, "a complete import shows nothing");
    Check(!loading.has_value(), "a complete import removes the handshake");
  } else {
    Check(raised || messages == 1, "an early end shows one message or raises");
  }

  Model model;
  const Outcome expected =
      Import(testing_support::ReferenceLines(contents), show_errors, scope, &model);
  Check(result == (expected == Outcome::kComplete), "the model's outcome: complete or not");
  Check(raised == (expected == Outcome::kRaised), "the model's outcome: raised or not");
  testing_support::StoreContent stored;
  std::string error;
  Check(testing_support::ReadStoreContent(store, &stored, &error), "the store reads");
  Check(stored == model.Content(), "the store holds what the model predicts");
  return 0;
}
