#include "import/config_check.h"

#include <cstdio>
#include <string_view>

#include "common/exceptions.h"
#include "import/config_line.h"
#include "import/import_messages.h"
#include "import/import_run.h"
#include "platform/ui.h"
#include "regdefs/shown_text.h"
#include "regdefs/value_types.h"

namespace {

std::string ShownData(const WrittenValue& value) {
  std::string text(regdefs::ValueTypeName(value.type));
  text += ' ';
  switch (value.type) {
    case plat::kRegSz:
      return text + QuotedForListing(value.text);
    case plat::kRegDword:
      return text + DwordForListing(value.number);
    default:
      break;
  }
  if (!value.bytes || value.bytes->empty())
    return text + "(no bytes)";
  for (std::size_t i = 0; i < value.bytes->size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), i == 0 ? "%02x" : ",%02x", (*value.bytes)[i]);
    text += pair;
  }
  return text;
}

// Lists what the import reports. The registry's names of keys and values
// are asked for in batches, once what a batch reports has been written.
class Listing : public ImportListener {
 public:
  Listing(const std::string& file_name, const StoredNames& names, std::ostream& out)
      : location_(plat::MessageFileName(file_name) + ":"), names_(names), out_(out) {}

  void KeyTaken(std::uint64_t line, plat::RegKey root, const std::string& path) override {
    Add(Event{Event::kKey, line, root, path, std::string()});
    ++keys_;
  }
  void ValueWritten(std::uint64_t line, const std::string& name,
                    const WrittenValue& value) override {
    Add(Event{Event::kValue, line, plat::kNullKey, name, ShownData(value)});
    ++values_;
  }
  void Warning(std::uint64_t line, const std::string& text) override {
    Add(Event{Event::kWarning, line, plat::kNullKey, text, std::string()});
    ++warnings_;
  }
  void Stopped(std::uint64_t line, const std::string& text) override {
    Add(Event{Event::kStop, line, plat::kNullKey, text, std::string()});
  }
  void Written() override { Flush(); }

  void Finish() {
    Flush();
    out_ << location_ << " " << keys_ << (keys_ == 1 ? " key, " : " keys, ") << values_
         << (values_ == 1 ? " value, " : " values, ") << warnings_
         << (warnings_ == 1 ? " warning" : " warnings") << "\n";
  }

 private:
  struct Event {
    enum Kind { kKey, kValue, kWarning, kStop } kind;
    std::uint64_t line;
    plat::RegKey root;
    std::string text;  // key path, value name, warning or reason
    std::string data;  // a value's type and data
  };

  // Lines that report more than this are listed before the batch is
  // written, so that memory stays bounded.
  static constexpr std::size_t kMaxBatch = 4096;

  void Add(Event event) {
    events_.push_back(std::move(event));
    if (events_.size() >= kMaxBatch)
      Flush();
  }

  void Flush() {
    ResolveNames();
    for (const Event& event : events_) {
      out_ << location_;
      if (event.line != 0 || event.kind != Event::kStop)
        out_ << event.line << ":";
      switch (event.kind) {
        case Event::kKey:
          key_shown_ = std::string(NameOfRootKey(event.root));
          if (!event.text.empty())
            key_shown_ += "\\" + event.text;
          key_shown_ = regdefs::ShownText(key_shown_);
          out_ << " key " << key_shown_ << "\n";
          break;
        case Event::kValue:
          out_ << " value " << key_shown_ << " "
               << (event.text.empty() ? std::string(regdefs::kUnnamedValueShown)
                                      : QuotedForListing(event.text))
               << " " << event.data << "\n";
          break;
        case Event::kWarning:
          out_ << " warning: " << event.text << "\n";
          break;
        case Event::kStop:
          out_ << " error: " << event.text << "\n";
          break;
      }
    }
    events_.clear();
  }

  // Puts the registry's names in place of those the import passed: each
  // key's path, and the names of the values after it.
  void ResolveNames() {
    std::vector<std::string> names;
    std::vector<Event*> named;
    auto resolve_values = [&] {
      if (!named.empty() && names_.value_names)
        names_.value_names(root_, stored_path_, &names);
      for (std::size_t i = 0; i < named.size(); ++i)
        named[i]->text = names[i];
      names.clear();
      named.clear();
    };
    for (Event& event : events_) {
      if (event.kind == Event::kKey) {
        resolve_values();
        root_ = event.root;
        // The registry takes the path as a C string.
        stored_path_ = event.text.c_str();
        if (names_.key_path)
          names_.key_path(event.root, event.text.c_str(), &stored_path_);
        event.text = stored_path_;
      } else if (event.kind == Event::kValue) {
        names.push_back(event.text.c_str());
        named.push_back(&event);
      }
    }
    resolve_values();
  }

  const std::string location_;
  const StoredNames& names_;
  std::ostream& out_;
  std::vector<Event> events_;
  // The key the values reported now are written to.
  plat::RegKey root_ = plat::kNullKey;
  std::string stored_path_;
  std::string key_shown_;
  std::size_t keys_ = 0;
  std::size_t values_ = 0;
  std::size_t warnings_ = 0;
};

}  // namespace

void CheckConfigFile(plat::RegKey root, const std::string& file_name,
                     const std::string& expected_product, ImportScope import_scope,
                     const StoredNames& names, RunOutcome& outcome, std::ostream& out) {
  Listing listing(file_name, names, out);
  ImportRequest request;
  request.root = root;
  request.file_name = file_name;
  request.expected_product = expected_product;
  request.show_errors = false;
  request.scope = import_scope;
  try {
    RunImport(request, &listing, outcome);
  } catch (const ERegistryException&) {
    // The import stops here; the listing has been told why.
  }
  listing.Finish();
}
