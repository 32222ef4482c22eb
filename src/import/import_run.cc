#include "import/import_run.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "common/exceptions.h"
#include "common/globals.h"
#include "import/config_line.h"
#include "import/handshake.h"
#include "import/import_messages.h"
#include "import/text_reader.h"
#include "platform/ui.h"
#include "registry/registry_object.h"

namespace {

// How long the closing handshake waits for "Loading" to read back as 1. Another
// import that starts meanwhile sets it to 0 and may stop early and leave it so;
// a windowless program must not wait for that for ever.
constexpr std::chrono::milliseconds kHandshakeWait(5000);

// Whether the rest of a line longer than the reader keeps whole matters:
// comments, lines that begin with a space or a control byte (blank, or value
// lines without a type) and value lines of no known type write nothing,
// however long they are.
bool LineNeedsAll(std::string_view head) {
  const LineKind kind = ClassifyLine(head);
  if (kind == LineKind::kIgnored || kind == LineKind::kBlank ||
      static_cast<unsigned char>(head[0]) <= 0x20) {
    return false;
  }
  if (kind != LineKind::kValue)
    return true;
  const std::string_view::size_type tab = head.find('\t');
  return tab != std::string_view::npos && ValueTypeOf(head.substr(0, tab)) != ValueType::kNone;
}

// Why a value line of no known type writes nothing.
std::string UntypedLineWarning(std::string_view line) {
  if (static_cast<unsigned char>(line[0]) <= 0x20 && line[0] != '\t')
    return "the line begins with a space: it is read as a value line, and writes nothing";
  if (line.find('\t') == std::string_view::npos)
    return "a value line without a tab: it writes nothing";
  return "unknown type word " + QuotedForListing(SplitValueLine(line).type_word) +
         " (string, integer or binary): the line writes nothing";
}

std::string IntegerWarning(std::string_view text, const IntegerReading& reading) {
  if (reading.out_of_range) {
    return "integer text " + QuotedForListing(text) +
           " does not fit in 32 bits: the digits stop before the one that would pass "
           "0xFFFFFFFF, and the value is " +
           DwordForListing(reading.value);
  }
  if (!reading.has_digits)
    return "integer text " + QuotedForListing(text) + " has no digits: the value is 0";
  if (!reading.whole) {
    return "integer text " + QuotedForListing(text) +
           " is not a whole number: the reading stops at the first character that is not a "
           "digit, and the value is " +
           DwordForListing(reading.value);
  }
  return std::string();
}

// One import: the walk of the file, its states (the write flag, the root,
// the key whose value lines are gathered) and the registry calls.
class Importer {
 public:
  Importer(const ImportRequest& request, ImportListener* listener, RunOutcome& outcome,
           TTextReader& reader, TRegistry& registry)
      : request_(request),
        listener_(listener),
        outcome_(outcome),
        reader_(reader),
        registry_(registry) {}

  // Imports the lines of the open file. Answers true when the end of the
  // file was reached, false when the import stopped early (the user or the
  // listener has been told why).
  bool Run();

  // The line a failed write concerns: the value line being written, or else
  // the line read last.
  std::uint64_t FailedLine() const { return writing_line_ ? writing_line_ : reader_.LineNumber(); }

  // Tells the listener of a registry failure that ends the import.
  void RegistryFailed(const ERegistryException& error) {
    if (!listener_)
      return;
    std::string text = "the import stops here with \"" + error.Message() + "\"";
    if (!key_path_)
      text =
          "a value line with no key line before it (since the start of the file or the "
          "last root line): " +
          text;
    Written();
    listener_->Stopped(FailedLine(), text);
  }

 private:
  struct Line {
    std::size_t end = 0;       // where the line ends in pending_text_
    std::uint64_t number = 0;  // its number in the file
  };

  // The value lines of the key in hand are gathered while the file is read
  // and written when the key's section ends, with the key opened just for
  // them: the file is never read while a key's values are half written, so
  // that the registry may commit what it holds before each read of the file
  // without cutting a key's values in two. A key whose value lines exceed
  // kMaxPendingBytes is written in parts of about that size.
  static constexpr std::size_t kMaxPendingBytes = 1 << 20;

  void OnValueLine(std::string_view line, bool cut);
  // Answers false where the import stops.
  bool OnKeyLine(std::string_view line, bool cut);
  bool OnProductLine(std::string_view line, bool cut);
  void OnRootLine(std::string_view line, bool cut);

  // Starts gathering the value lines of the key at `path`; null: lines that
  // come before any key, which cannot be written.
  void StartKey(const std::string* path) {
    key_path_ = path;
    pending_text_.clear();
    pending_lines_.clear();
  }
  // Writes the gathered value lines into their key.
  void WritePending();
  void OpenKey() {
    if (key_path_)
      registry_.OpenPath(*key_path_, true);
  }
  void CloseKey() {
    writing_line_ = 0;
    registry_.ClosePath();
    Written();
  }
  void WriteLine(std::string_view line, std::uint64_t number);
  // A value line longer than the reader keeps: its data would be longer than
  // any the program writes, so the write fails as a refused one does.
  void RefuseCutValue(std::string_view line, std::uint64_t number);

  // Runs `write` on the handshake key, if it opens, and closes the key again
  // on every way out. Answers false when the registry refuses everyone.
  template <typename Write>
  bool WithHandshakeKey(Write write);
  // Runs a step that writes values. A write that failed because the registry
  // refuses everyone is told as that (answers false); any other failed write
  // passes on as it is.
  template <typename Step>
  bool Writes(Step step);
  // Asks the registry, after a failed call, whether it refuses everyone.
  // When it does the import cannot go on: the user is told why and at which
  // line it stopped. Answers true then.
  bool StoppedByRegistry(std::uint64_t line);

  // The texts for the listener are made only when there is one: a plain
  // import neither spends the time nor holds a copy of a long line.
  template <typename Text>
  void Warn(std::uint64_t line, Text text) {
    if (listener_)
      listener_->Warning(line, text());
  }
  template <typename Text>
  void Skip(std::uint64_t line, Text why) {
    outcome_.Note(RunEvent::kLineSkipped);
    Warn(line, why);
  }
  std::string SkipReason() const {
    if (skipping_after_refusal_)
      return "a key before it was refused";
    return std::string(NameOfRootKey(registry_.Root())) + " may not be written";
  }
  void Written() {
    if (listener_)
      listener_->Written();
  }
  // Ends the import at `line`: the listener hears `listed`, or else the user
  // sees the message box that `show` shows.
  template <typename Text, typename Show>
  void Stop(std::uint64_t line, Text listed, Show show) {
    if (listener_) {
      Written();
      listener_->Stopped(line, listed());
      return;
    }
    // What the import wrote is in the registry before anyone reads of it.
    plat::FlushPendingWrites();
    plat::SetMessageLocation(request_.file_name, line);
    show();
  }

  const ImportRequest& request_;
  ImportListener* const listener_;
  RunOutcome& outcome_;
  TTextReader& reader_;
  TRegistry& registry_;

  bool may_write_ = false;
  // Why nothing is written while may_write_ is false: a refused key, or
  // else the scope.
  bool skipping_after_refusal_ = false;
  std::string path_;  // the key path of the key line in hand
  const std::string* key_path_ = nullptr;
  std::string pending_text_;
  std::vector<Line> pending_lines_;
  std::uint64_t writing_line_ = 0;  // the value line being written, if any
  // The texts of the line in hand. They keep their memory from line to
  // line, so that most lines are imported without allocating any.
  std::string name_;
  std::string text_;
};

bool Importer::StoppedByRegistry(std::uint64_t line) {
  const plat::Status state = plat::RegistryState();
  if (state == plat::kErrorSuccess)
    return false;
  outcome_.Note(state == plat::kErrorBusy ? RunEvent::kStoreBusy : RunEvent::kStoreUnavailable);
  Stop(
      line, [&] { return StoreProblemText(state); }, [&] { ShowStoreProblem(state); });
  return true;
}

template <typename Write>
bool Importer::WithHandshakeKey(Write write) {
  const std::uint64_t line = reader_.LineNumber();
  registry_.SelectRoot(kHandshakeRoot);
  if (!registry_.OpenPath(kHandshakeKey, true))
    return !StoppedByRegistry(line);
  try {
    write();
  } catch (const ERegistryException&) {
    registry_.ClosePath();
    if (StoppedByRegistry(line))
      return false;
    throw;
  } catch (...) {
    registry_.ClosePath();
    throw;
  }
  registry_.ClosePath();
  return !StoppedByRegistry(line);
}

template <typename Step>
bool Importer::Writes(Step step) {
  try {
    step();
  } catch (const ERegistryException&) {
    if (StoppedByRegistry(FailedLine()))
      return false;
    throw;
  }
  return true;
}

void Importer::WriteLine(std::string_view line, std::uint64_t number) {
  writing_line_ = number;
  ValueFields fields = SplitValueLine(line);
  const ValueType type = ValueTypeOf(fields.type_word);
  if (type == ValueType::kNone) {
    Skip(number, [&] { return UntypedLineWarning(line); });
    return;
  }
  name_.assign(fields.name);
  WrittenValue value;
  std::vector<std::uint8_t> bytes;
  switch (type) {
    case ValueType::kString:
      text_.assign(fields.text);
      registry_.PutText(name_, text_);
      value.type = plat::kRegSz;
      value.text = text_;
      break;
    case ValueType::kInteger:
      if (listener_) {
        const IntegerReading reading = ReadLocaleInteger(fields.text, NumberChars());
        const std::string warning = IntegerWarning(fields.text, reading);
        if (!warning.empty())
          Warn(number, [&] { return warning; });
        value.number = reading.value;
      } else {
        value.number = LocaleStrToInt(fields.text);
      }
      registry_.PutDword(name_, value.number);
      value.type = plat::kRegDword;
      break;
    case ValueType::kBinary:
      if (fields.text.size() % 3 != 0) {
        Warn(number, [&] {
          return "binary text of " + std::to_string(fields.text.size()) +
                 " characters: every byte takes three (two digits and a separator), so the last " +
                 std::to_string(fields.text.size() % 3) + " give no byte";
        });
      }
      bytes = HexTripletsToBytes(fields.text);
      registry_.PutBytes(name_, bytes.data(), static_cast<std::int32_t>(bytes.size()));
      value.type = plat::kRegBinary;
      value.bytes = &bytes;
      break;
    case ValueType::kNone:
      break;
  }
  if (listener_)
    listener_->ValueWritten(number, name_, value);
}

void Importer::RefuseCutValue(std::string_view line, std::uint64_t number) {
  writing_line_ = number;
  ValueFields fields = SplitValueLine(line);
  if (ValueTypeOf(fields.type_word) == ValueType::kNone) {
    Skip(number, [&] { return UntypedLineWarning(line); });
    return;
  }
  throw ERegistryException("Failed to set data for '" + std::string(fields.name) + "'");
}

void Importer::WritePending() {
  if (pending_lines_.empty())
    return;
  OpenKey();
  std::size_t start = 0;
  for (const Line& line : pending_lines_) {
    WriteLine(std::string_view(pending_text_).substr(start, line.end - start), line.number);
    start = line.end;
  }
  pending_text_.clear();
  pending_lines_.clear();
  CloseKey();
}

void Importer::OnValueLine(std::string_view line, bool cut) {
  const std::uint64_t number = reader_.LineNumber();
  if (!may_write_) {
    Skip(number, [&] { return "the value line writes nothing: " + SkipReason(); });
    return;
  }
  if (cut || line.size() >= kMaxPendingBytes) {
    // A long line is written where it lies instead of being copied, after
    // the lines before it.
    WritePending();
    OpenKey();
    if (cut)
      RefuseCutValue(line, number);
    else
      WriteLine(line, number);
    CloseKey();
    return;
  }
  pending_text_.append(line);
  pending_lines_.push_back(Line{pending_text_.size(), number});
  if (pending_text_.size() >= kMaxPendingBytes)
    WritePending();
}

bool Importer::OnKeyLine(std::string_view line, bool cut) {
  const std::uint64_t number = reader_.LineNumber();
  if (!cut && line.back() != ']') {
    Warn(number, [&] {
      return "the key line does not end in \"]\": its last character is dropped all the same, "
             "and the key is " +
             QuotedForListing(KeyPathOf(line));
    });
  }
  if (!may_write_) {
    Skip(number, [&] { return "the key line writes nothing: " + SkipReason(); });
    return true;
  }
  // A key path longer than the reader keeps is longer than any the registry
  // takes: the key is refused as the registry refuses it.
  if (!cut) {
    path_.assign(KeyPathOf(line));
    if (CanWriteRegKey(path_, registry_.Root())) {
      StartKey(&path_);
      if (listener_)
        listener_->KeyTaken(number, registry_.Root(), path_);
      return true;
    }
    if (StoppedByRegistry(number))
      return false;
  }
  outcome_.Note(RunEvent::kWriteRefused);
  if (request_.show_errors) {
    Stop(
        number,
        [] { return std::string("the registry refuses the key, and the import stops here"); },
        [&] { ShowKeyRefused(registry_.Root()); });
    return false;
  }
  Warn(number, [&] {
    return "the registry refuses the key " +
           (cut ? std::string("(a key path longer than any it takes)") : QuotedForListing(path_)) +
           ": nothing is written until the next root line";
  });
  may_write_ = false;
  skipping_after_refusal_ = true;
  return true;
}

bool Importer::OnProductLine(std::string_view line, bool cut) {
  std::string_view product = ProductNameOf(line);
  if (!cut && product == request_.expected_product)
    return true;
  outcome_.Note(RunEvent::kWrongProduct);
  const std::string named = cut ? std::string(line.substr(2, 1024)) + "..." : std::string(product);
  Stop(
      reader_.LineNumber(),
      [&] {
        return "the file belongs to " + QuotedForListing(named) + ", not to " +
               QuotedForListing(request_.expected_product) + ": the import stops here";
      },
      [&] { ShowWrongProduct(named); });
  return false;
}

void Importer::OnRootLine(std::string_view line, bool cut) {
  plat::RegKey named = plat::kNullKey;
  // A root line longer than the reader keeps names no root.
  if (!cut && RootKeyOfName(RootNameOf(line), &named)) {
    registry_.SelectRoot(named);
  } else {
    Warn(reader_.LineNumber(), [&] {
      return "unknown root " + QuotedForListing(cut ? line.substr(1, 1024) : RootNameOf(line)) +
             ": the keys that follow stay below " + std::string(NameOfRootKey(registry_.Root()));
    });
  }
  may_write_ = ImportScopeAllows(registry_.Root(), request_.scope);
  skipping_after_refusal_ = false;
}

bool Importer::Run() {
  if (!WithHandshakeKey([&] { registry_.PutDword(kHandshakeValue, 0); }))
    return false;
  // "Loading" is in the store before anything of the file is.
  plat::FlushPendingWrites();

  registry_.SelectRoot(request_.root);
  registry_.SetDeferFlush(true);
  may_write_ = ImportScopeAllows(registry_.Root(), request_.scope);
  reader_.SetKeepWhole(LineNeedsAll);
  // What the registry holds back is committed before each read of the file,
  // so that no write lock is held while a read waits.
  reader_.SetBeforeRead(plat::FlushPendingWrites);

  while (!reader_.Eof()) {
    std::string_view line = reader_.ReadLineView();
    const bool cut = reader_.LineWasCut();
    const LineKind kind = ClassifyLine(line);
    if (kind == LineKind::kValue) {
      if (!Writes([&] { OnValueLine(line, cut); }))
        return false;
      continue;
    }
    if (kind == LineKind::kBlank || kind == LineKind::kIgnored)
      continue;
    // What is gathered is written before any other line takes effect; a key
    // or root line also ends the section of the key in hand.
    if (!Writes([&] { WritePending(); }))
      return false;
    if (kind == LineKind::kKey || kind == LineKind::kRoot)
      StartKey(nullptr);
    bool goes_on = true;
    if (kind == LineKind::kKey)
      goes_on = OnKeyLine(line, cut);
    else if (kind == LineKind::kProduct)
      goes_on = OnProductLine(line, cut);
    else
      OnRootLine(line, cut);
    if (!goes_on)
      return false;
  }

  if (!Writes([&] { WritePending(); }))
    return false;
  registry_.ClosePath();
  // Everything of the file is in the store before "Loading" goes.
  plat::FlushPendingWrites();
  const bool done = WithHandshakeKey([&] {
    registry_.PutDword(kHandshakeValue, 1);
    // When another writer has changed the value meanwhile, it is left as that
    // writer left it.
    bool read_back =
        AwaitHandshakeValue([&] { return registry_.GetDword(kHandshakeValue); }, kHandshakeWait);
    if (read_back)
      registry_.RemoveValue(kHandshakeValue);
  });
  plat::FlushPendingWrites();
  return done;
}

}  // namespace

bool RunImport(const ImportRequest& request, ImportListener* listener, RunOutcome& outcome) {
  bool result = false;
  TTextReader reader;
  try {
    reader.Open(request.file_name);
    {
      // Leaving this block, by any way, closes the open key and releases the
      // registry object before the file is closed.
      TRegistry registry;
      Importer importer(request, listener, outcome, reader, registry);
      try {
        result = importer.Run();
      } catch (const ERegistryException& error) {
        // The error box that tells of it is shown by the caller; it concerns
        // the value line being written, or else the line read last.
        outcome.Note(RunEvent::kWriteFailed);
        importer.RegistryFailed(error);
        plat::SetMessageLocation(request.file_name, importer.FailedLine());
        // What was written is in the registry before the box tells of it.
        plat::FlushPendingWrites();
        throw;
      }
    }
    reader.Close();
  } catch (const EInOutError& error) {
    outcome.Note(RunEvent::kFileUnreadable);
    // An error of the open or the close concerns the file as a whole.
    const std::uint64_t line = reader.IsOpen() ? reader.LineNumber() : 0;
    // The clean-up comes first: the file is closed before the user is told.
    if (reader.IsOpen()) {
      try {
        reader.Close();
      } catch (const EInOutError&) {
        // The first error is the one the user is shown.
      }
    }
    if (listener) {
      listener->Written();
      listener->Stopped(line, "cannot read the file: " + FileErrorReason(error));
    } else {
      plat::FlushPendingWrites();
      plat::SetMessageLocation(request.file_name, line);
      ShowFileError(error, request.file_name);
    }
  }
  return result;
}
