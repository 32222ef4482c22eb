// What the dry run lists is what the import writes: both run over the files
// of the differential test's generator, and the listing, read back, must
// hold exactly the keys and values the store holds after the import. A file
// that diverges is cut down to the fewest lines that still diverge.
//
// BREVLIN_CHECK_SEEDS sets the number of files (200 unless set), and
// BREVLIN_CHECK_FIRST_SEED the first seed (1).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "import/config_check.h"
#include "import/config_line.h"
#include "import/handshake.h"
#include "import/imp_exp_reg.h"
#include "import/import_messages.h"
#include "platform/posix/scratch_registry.h"
#include "platform/ui.h"
#include "regdefs/shown_text.h"
#include "regstore/regstore.h"
#include "testing/posix/program_runner.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using testing_support::StoredValue;

// Keys by the path the listing shows, each with its values by name.
using Content = std::map<std::string, std::map<std::string, StoredValue>>;

std::size_t EnvCount(const char* name, std::size_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// Reads a quoted text of the listing at `pos`, undoing its escapes.
bool Unquote(const std::string& line, std::size_t* pos, std::string* text) {
  if (*pos >= line.size() || line[*pos] != '"')
    return false;
  text->clear();
  for (std::size_t i = *pos + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c != '\\') {
      *text += c;
      continue;
    }
    if (++i >= line.size())
      return false;
    switch (line[i]) {
      case 't':
        *text += '\t';
        break;
      case 'r':
        *text += '\r';
        break;
      case 'n':
        *text += '\n';
        break;
      case 'x':
        if (i + 2 >= line.size())
          return false;
        *text += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
        break;
      default:
        *text += line[i];
        break;
    }
  }
  return false;
}

bool ParseData(const std::string& data, StoredValue* value) {
  if (data.rfind("REG_SZ ", 0) == 0) {
    std::size_t pos = 7;
    std::string text;
    if (!Unquote(data, &pos, &text) || pos != data.size())
      return false;
    *value = StoredValue{plat::kRegSz, std::vector<std::uint8_t>(text.begin(), text.end())};
    value->data.push_back(0);
    return true;
  }
  if (data.rfind("REG_DWORD 0x", 0) == 0) {
    const unsigned long bits = std::stoul(data.substr(12, 8), nullptr, 16);
    *value = StoredValue{plat::kRegDword, {}};
    for (int i = 0; i < 4; ++i)
      value->data.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    return true;
  }
  if (data.rfind("REG_BINARY ", 0) == 0) {
    *value = StoredValue{plat::kRegBinary, {}};
    if (data == "REG_BINARY (no bytes)")
      return true;
    for (std::size_t i = 11; i + 1 < data.size(); i += 3)
      value->data.push_back(static_cast<std::uint8_t>(std::stoi(data.substr(i, 2), nullptr, 16)));
    return true;
  }
  return false;
}

// Reads the keys and values a listing says the import writes.
bool ParseListing(const std::string& listing, const std::string& at, Content* content,
                  std::string* error) {
  std::istringstream lines(listing);
  std::string key;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(at, 0) != 0) {
      *error = "a line without the file's name: " + line;
      return false;
    }
    std::size_t pos = line.find(": ", at.size());
    if (line.compare(at.size(), 1, " ") == 0 || pos == std::string::npos)
      continue;  // the summary, or a stop that concerns the whole file
    const std::string rest = line.substr(pos + 2);
    if (rest.rfind("key ", 0) == 0) {
      key = rest.substr(4);
      (*content)[key];
    } else if (rest.rfind("value ", 0) == 0) {
      if (rest.compare(6, key.size() + 1, key + " ") != 0) {
        *error = "a value outside the key listed last: " + line;
        return false;
      }
      std::size_t at_name = 6 + key.size() + 1;
      std::string name;
      if (rest.compare(at_name, 10, "(Default) ") == 0) {
        at_name += 10;
      } else if (Unquote(rest, &at_name, &name) && at_name < rest.size()) {
        ++at_name;
      } else {
        *error = "a value name that does not read: " + line;
        return false;
      }
      StoredValue value;
      if (!ParseData(rest.substr(at_name), &value)) {
        *error = "data that does not read: " + line;
        return false;
      }
      (*content)[key][name] = value;
    }
  }
  return true;
}

constexpr plat::RegKey kRoots[] = {plat::kHkeyClassesRoot, plat::kHkeyCurrentUser,
                                   plat::kHkeyLocalMachine, plat::kHkeyUsers,
                                   plat::kHkeyCurrentConfig};

// Everything the store holds, by the paths the listing would show.
class StoreReader : public regstore::StoreVisitor {
 public:
  explicit StoreReader(plat::RegKey root) : root_(NameOfRootKey(root)) {}
  bool Key(const std::string& path) override {
    key_ = &content[regdefs::ShownText(path.empty() ? root_ : root_ + "\\" + path)];
    return true;
  }
  bool Value(const regstore::StoreValueView& value) override {
    (*key_)[std::string(value.name)] =
        StoredValue{value.type, std::vector<std::uint8_t>(value.data, value.data + value.size)};
    return true;
  }
  bool Subkey(std::string_view) override { return true; }
  Content content;

 private:
  std::string root_;
  std::map<std::string, StoredValue>* key_ = nullptr;
};

Content StoreContent() {
  Content content;
  for (plat::RegKey root : kRoots) {
    StoreReader reader(root);
    regstore::StoreWalk(root, "", true, &reader);
    content.insert(reader.content.begin(), reader.content.end());
  }
  return content;
}

std::string Hex(const StoredValue& value) {
  std::string text = "type " + std::to_string(value.type) + ":";
  for (std::uint8_t byte : value.data) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), " %02x", byte);
    text += pair;
  }
  return text;
}

// The first difference between what was listed and what was written, or
// the empty text when they agree. Keys that the import makes on the way to a
// listed key, and the handshake key with its value (0 where the import
// stopped early), are the import's own.
std::string Difference(const Content& listed, const Content& stored) {
  const std::string handshake = std::string(NameOfRootKey(kHandshakeRoot)) + "\\" + kHandshakeKey;
  std::set<std::string> on_the_way = {handshake};
  for (plat::RegKey root : kRoots)
    on_the_way.insert(std::string(NameOfRootKey(root)));
  for (std::size_t cut = handshake.find('\\'); cut != std::string::npos;
       cut = handshake.find('\\', cut + 1))
    on_the_way.insert(handshake.substr(0, cut));
  for (const auto& [key, values] : listed) {
    for (std::size_t cut = key.find('\\'); cut != std::string::npos; cut = key.find('\\', cut + 1))
      on_the_way.insert(key.substr(0, cut));
  }
  for (const auto& [key, values] : listed) {
    auto found = stored.find(key);
    if (found == stored.end())
      return "listed, not written: key " + key;
    for (const auto& [name, value] : values) {
      auto written = found->second.find(name);
      if (written == found->second.end())
        return "listed, not written: " + key + " \"" + name + "\"";
      if (!(written->second == value))
        return key + " \"" + name + "\": listed " + Hex(value) + ", written " +
               Hex(written->second);
    }
  }
  for (const auto& [key, values] : stored) {
    auto found = listed.find(key);
    if (found == listed.end()) {
      if (!on_the_way.count(key))
        return "written, not listed: key " + key;
      for (const auto& [name, value] : values) {
        if (key != handshake || name != kHandshakeValue)
          return "written, not listed: " + key + " \"" + name + "\"";
      }
      continue;
    }
    for (const auto& [name, value] : values) {
      if (!found->second.count(name) && (key != handshake || name != kHandshakeValue))
        return "written, not listed: " + key + " \"" + name + "\" " + Hex(value);
    }
  }
  return std::string();
}

// Runs the dry run and the import over `contents`, each with a store of its
// own, and answers how they differ (empty when they agree).
std::string Divergence(const std::string& contents, std::string* listing_out = nullptr) {
  const std::string file = testing_support::WriteTempFile(contents);
  std::ostringstream listing;
  {
    testing_support::ScopedTestRegistry registry;
    plat::posix::ScratchRegistry scratch(plat::posix::ScratchRegistry::Start::kEmpty);
    StoredNames names;
    names.key_path = plat::posix::StoredKeyPath;
    names.value_names = plat::posix::StoredValueNames;
    RunOutcome outcome;
    CheckConfigFile(plat::kHkeyCurrentUser, file, "Brevlin", ImportScope::kBoth, names, outcome,
                    listing);
  }
  Content listed;
  std::string error;
  if (!ParseListing(listing.str(), plat::MessageFileName(file) + ":", &listed, &error))
    return error;
  if (listing_out)
    *listing_out = listing.str();

  testing_support::ScopedTestRegistry registry;
  try {
    ImportConfigFile(plat::kHkeyCurrentUser, file, "Brevlin", false, ImportScope::kBoth);
  } catch (const ERegistryException&) {
    // The import stops there, as the listing says.
  }
  return Difference(listed, StoreContent());
}

// Drops lines of `contents` while the two still diverge.
std::string Reduced(const std::string& contents) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < contents.size();) {
    std::size_t end = contents.find('\n', start);
    end = end == std::string::npos ? contents.size() : end + 1;
    lines.push_back(contents.substr(start, end - start));
    start = end;
  }
  auto join = [](const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
      text += part;
    return text;
  };
  for (std::size_t chunk = (lines.size() + 1) / 2; chunk >= 1; chunk /= 2) {
    for (std::size_t at = 0; at < lines.size();) {
      std::vector<std::string> fewer(lines.begin(), lines.begin() + at);
      fewer.insert(fewer.end(), lines.begin() + std::min(lines.size(), at + chunk), lines.end());
      if (!Divergence(join(fewer)).empty())
        lines.swap(fewer);
      else
        at += chunk;
    }
    if (chunk == 1)
      break;
  }
  return join(lines);
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\n')
      shown += "\\n\n";
    else
      shown += regdefs::ShownText(std::string(1, c));
  }
  return shown;
}

TEST(CheckMatchesImport, OnGeneratedFiles) {
  const std::size_t count = EnvCount("BREVLIN_CHECK_SEEDS", 200);
  const std::size_t first = EnvCount("BREVLIN_CHECK_FIRST_SEED", 1);
  const std::string dir = testing_support::NewTempDir();
  testing_support::ProgramOptions options;
  for (std::size_t seed = first; seed < first + count; ++seed) {
    options.arguments.push_back(std::to_string(seed));
    options.arguments.push_back(testing_support::JoinPath(dir, std::to_string(seed) + ".cfg"));
  }
  const testing_support::ProgramRun run =
      testing_support::RunProgram(testing_support::BuiltProgram("gen_config"), options);
  ASSERT_EQ(run.exit_code, 0) << run.error_output;

  plat::SetMessageRecorder([](const plat::ShownMessage&) {});
  std::size_t divergent = 0;
  for (std::size_t seed = first; seed < first + count; ++seed) {
    const std::string contents = testing_support::ReadWholeFile(
        testing_support::JoinPath(dir, std::to_string(seed) + ".cfg"));
    const std::string difference = Divergence(contents);
    if (difference.empty())
      continue;
    if (++divergent > 3)
      continue;  // the first few are enough to see what differs
    const std::string reduced = Reduced(contents);
    std::string listing;
    const std::string reduced_difference = Divergence(reduced, &listing);
    ADD_FAILURE() << "seed " << seed << ": " << regdefs::ShownText(difference) << "\nreduced to "
                  << "(" << regdefs::ShownText(reduced_difference) << "):\n"
                  << Printable(reduced) << "\nits listing:\n"
                  << listing;
  }
  plat::SetMessageRecorder(nullptr);
  EXPECT_EQ(divergent, 0u) << "of " << count << " files";
}

}  // namespace
