// regstore query KEY: a key's values and subkeys, or one value.
#include <string>

#include "regdefs/shown_text.h"
#include "regdefs/value_types.h"
#include "regstore/names.h"
#include "regstore_tool/command.h"
#include "regstore_tool/value_text.h"

namespace regstore_tool {

namespace {

class QueryPrinter : public KeyVisitor {
 public:
  QueryPrinter(Output* out, const KeyName& top, bool recursive, bool json, const std::string* only)
      : out_(*out), top_(top), recursive_(recursive), json_(json), only_(only) {}

  void Begin() { out_ << (json_ ? "{\"keys\": [" : "\n"); }
  void End() {
    FinishKey();
    if (json_)
      out_ << (keys_ ? "\n]}\n" : "]}\n");
  }
  std::size_t matches() const { return matches_; }

  // The line of an unnamed value that the key does not have, as reg.exe
  // shows it for /ve.
  void ShowUnsetDefault() {
    ShowKey();
    if (json_)
      return;
    // reg.exe ends this answer without the blank line that follows a key's
    // values.
    out_ << "    " << regdefs::kUnnamedValueShown << "    REG_SZ    (value not set)\n";
    key_shown_ = false;
  }

  bool Key(const std::string& path) override {
    FinishKey();
    full_name_ = top_.FullNameAt(path);
    key_shown_ = false;
    values_ = 0;
    subkeys_ = 0;
    // As reg.exe shows it, a key without values has no line of its own
    // unless every key is shown (/s) or the output is JSON.
    if (!only_ && (recursive_ || json_))
      ShowKey();
    return out_.error() == 0;
  }

  bool Value(const ValueView& value) override {
    if (only_ && !regstore::SameName(value.name, *only_))
      return true;
    ShowKey();
    ++matches_;
    if (json_) {
      out_ << (values_ ? ",\n    " : "\n    ") << "{\"name\": " << JsonString(value.name)
           << ", \"type\": \"" << TypeName(value.type) << "\", \"data\": " << JsonData(value)
           << "}";
    } else {
      out_ << "    ";
      WriteVisible(value.name.empty() ? regdefs::kUnnamedValueShown : value.name);
      out_ << "    " << TypeName(value.type) << "    ";
      WriteVisible(QueryData(value));
      out_ << "\n";
    }
    ++values_;
    return out_.error() == 0;
  }

  bool Subkey(std::string_view name) override {
    if (only_)
      return true;
    if (json_) {
      if (subkeys_ == 0)
        out_ << "],\n   \"subkeys\": [";
      out_ << (subkeys_ ? ", " : "") << JsonString(name);
    } else {
      if (subkeys_ == 0 && values_ > 0)
        out_ << "\n";
      out_ << Shown(full_name_) << "\\" << Shown(name) << "\n";
    }
    ++subkeys_;
    return out_.error() == 0;
  }

 private:
  // Text with its control characters escaped, copied only when it has any.
  void WriteVisible(std::string_view text) {
    if (regdefs::IsShownEscaped(text, regdefs::kShowUtf8))
      out_.Write(Shown(text));
    else
      out_.Write(text);
  }

  void ShowKey() {
    if (key_shown_)
      return;
    key_shown_ = true;
    if (json_)
      out_ << (keys_ ? ",\n" : "\n") << "  {\"key\": " << JsonString(full_name_)
           << ",\n   \"values\": [";
    else
      out_ << Shown(full_name_) << "\n";
    ++keys_;
  }

  void FinishKey() {
    if (!key_shown_)
      return;
    key_shown_ = false;
    if (json_) {
      if (subkeys_ > 0)
        out_ << "]}";
      else if (!recursive_ && !only_)
        out_ << (values_ ? "\n   ],\n   \"subkeys\": []}" : "],\n   \"subkeys\": []}");
      else
        out_ << (values_ ? "\n   ]}" : "]}");
    } else if (recursive_ || only_) {
      out_ << "\n";
    } else if (values_ > 0 && subkeys_ == 0) {
      out_ << "\n";
    }
  }

  Output& out_;
  const KeyName& top_;
  bool recursive_;
  bool json_;
  const std::string* only_;
  std::string full_name_;
  bool key_shown_ = false;
  std::size_t keys_ = 0;
  std::size_t values_ = 0;
  std::size_t subkeys_ = 0;
  std::size_t matches_ = 0;
};

int RunQuery(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() != 1)
    return context.Usage("query", "query takes one key");
  if (line.Has("v") && line.Has("ve"))
    return context.Usage("query", "give /v or /ve, not both");
  KeyName key;
  int code = context.ExistingKey("query", line.operands[0], &key);
  if (code != kSuccess)
    return code;
  const bool recursive = line.Has("s");
  const std::string value_name = line.Value("v");
  const bool one_value = line.Has("v") || line.Has("ve");
  QueryPrinter printer(&context.out(), key, recursive, context.json(),
                       one_value ? &value_name : nullptr);
  printer.Begin();
  const Status status = WalkKey(key, recursive, &printer);
  // reg.exe answers /ve on a key without an unnamed value with a line that
  // says it is not set, and succeeds.
  const bool unset_default =
      status == kErrorSuccess && line.Has("ve") && !recursive && printer.matches() == 0;
  if (unset_default)
    printer.ShowUnsetDefault();
  printer.End();
  if (context.out().error() != 0)
    return context.OutputStatus(kFailure);
  if (status != kErrorSuccess)
    return context.StoreError("cannot read the registry key " + key.AsWritten(), status);
  if (one_value && recursive && !context.json())
    context.out() << "End of search: " << std::to_string(printer.matches())
                  << " match(es) found.\n";
  code = context.OutputStatus(kSuccess);
  if (code == kSuccess && one_value && printer.matches() == 0 && !unset_default)
    return context.Error("the system was unable to find the specified registry key or value");
  return code;
}

}  // namespace

extern const CommandSpec kQueryCommand = {
    "query",
    StoreUse::kReads,
    "show a key's values and subkeys, or one value",
    "query KEY [/v NAME | /ve] [/s] [--json]",
    "Shows the values of KEY and the names of its subkeys.\n",
    {},
    {
        {"v", "NAME", "only the value NAME (with /s: in KEY and every key below it)"},
        {"ve", nullptr, "only the unnamed value, shown as (Default)"},
        {"s", nullptr, "KEY and every key below it, with their values"},
    },
    // --json is read by every command; what it shows is the query's.
    "  --json    one JSON document: {\"keys\": [{\"key\", \"values\": [{\"name\", \"type\",\n"
    "            \"data\"}], \"subkeys\"}]}; data is a string (REG_SZ, REG_EXPAND_SZ), an\n"
    "            array of strings (REG_MULTI_SZ), a number (REG_DWORD, REG_QWORD), or\n"
    "            hexadecimal digits (other types, and data of the wrong size)\n"
    "Control characters in names and data are shown escaped (\\t, \\n, \\x1B).\n",
    RunQuery,
};

}  // namespace regstore_tool
