#include "import/imp_exp_reg.h"

#include <string>
#include <string_view>
#include <vector>

#include "common/exceptions.h"
#include "common/globals.h"
#include "common/run_outcome.h"
#include "import/config_line.h"
#include "import/handshake.h"
#include "import/text_reader.h"
#include "platform/ui.h"
#include "registry/registry_object.h"

namespace {

// The handshake that tells other programs whether an import is running:
// "Loading" is 0 while it runs and is removed once the whole file is in.
const char kHandshakeKey[] = "Software\\Mardovan";
const char kHandshakeValue[] = "Loading";

// How long the closing handshake waits for "Loading" to read back as 1. Another
// import that starts meanwhile sets it to 0 and may stop early and leave it so;
// a windowless program must not wait for that for ever.
constexpr std::chrono::milliseconds kHandshakeWait(5000);

constexpr std::uint32_t kBoxStyle = plat::kMbIconError | plat::kMbSetForeground;

void ShowKeyRefused(plat::RegKey root) {
  plat::MessageBoxA(
      plat::kNoWindow,
      "Cannot continue writing because you do not have the right to\r\nwrite to the " +
          std::string(NameOfRootKey(root)) + " registry key.",
      std::string(kApplicationTitle) + " Registry Error", kBoxStyle);
}

void ShowWrongProduct(std::string_view product) {
  plat::MessageBoxA(plat::kNoWindow,
                    "This configuration file belongs to " + std::string(product) +
                        "\r\nand is not compatible with this program.",
                    std::string(kApplicationTitle) + " Import Error", kBoxStyle);
}

void ShowFileError(const EInOutError& error, const std::string& file_name) {
  std::string reason = error.Message();
  if (!error.SystemText().empty())
    reason += " (" + error.SystemText() + ")";
  plat::MessageBoxA(plat::GetForegroundWindow(),
                    "Could not import the program configuration due to the following error:\r\n" +
                        reason + "\r\n\r\nFilename: " + plat::MessageFileName(file_name),
                    kApplicationTitle, kBoxStyle);
}

std::string StoreProblem(plat::Status state) {
  switch (state) {
    case plat::kErrorBusy:
      return "The registry store is busy: other programs have held it for longer than this "
             "program waits.";
    case plat::kErrorDiskFull:
      return "The registry store's disk is full.";
    case plat::kErrorWriteProtect:
      return "The registry store is read-only, or belongs to another user.";
    case plat::kErrorIoDevice:
      return "The registry store could not be written: its disk failed a write.";
    case plat::kErrorBadDb:
      return "The registry store is damaged, was replaced, or is not a registry store.";
    default:
      return "The registry store cannot be opened.";
  }
}

// Asks the registry, after a failed call, whether it refuses everyone. When it
// does the import cannot go on: the user is told why and at which line it
// stopped, and the handshake value stays as the import left it. Answers true
// then.
bool StoppedByRegistry(const std::string& file_name, std::size_t line) {
  const plat::Status state = plat::RegistryState();
  if (state == plat::kErrorSuccess)
    return false;
  TheRunOutcome().Note(state == plat::kErrorBusy ? RunEvent::kStoreBusy
                                                 : RunEvent::kStoreUnavailable);
  plat::SetMessageLocation(file_name, line);
  plat::MessageBoxA(plat::kNoWindow,
                    StoreProblem(state) + "\r\nThe import stopped; nothing more was written.",
                    std::string(kApplicationTitle) + " Registry Error", kBoxStyle);
  return true;
}

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

// Runs `write` on the handshake key, if it opens, and closes the key again on
// every way out. Answers false when the registry refuses everyone (a message
// has been shown).
template <typename Write>
bool WithHandshakeKey(TRegistry& registry, const std::string& file_name, std::size_t line,
                      Write write) {
  registry.SelectRoot(plat::kHkeyCurrentUser);
  if (!registry.OpenPath(kHandshakeKey, true))
    return !StoppedByRegistry(file_name, line);
  try {
    write();
  } catch (const ERegistryException&) {
    registry.ClosePath();
    if (StoppedByRegistry(file_name, line))
      return false;
    throw;
  } catch (...) {
    registry.ClosePath();
    throw;
  }
  registry.ClosePath();
  return !StoppedByRegistry(file_name, line);
}

// The texts of the line in hand. They keep their memory from line to line,
// so that most lines are imported without allocating any.
struct LineTexts {
  std::string name;
  std::string text;
  std::string path;
};

// Writes the value of a value line; answers false for a line with an unknown
// type word, which writes nothing.
bool WriteValue(TRegistry& registry, std::string_view line, LineTexts& texts) {
  ValueFields fields = SplitValueLine(line);
  switch (ValueTypeOf(fields.type_word)) {
    case ValueType::kString:
      texts.name.assign(fields.name);
      texts.text.assign(fields.text);
      registry.PutText(texts.name, texts.text);
      break;
    case ValueType::kInteger:
      texts.name.assign(fields.name);
      registry.PutDword(texts.name, LocaleStrToInt(fields.text));
      break;
    case ValueType::kBinary: {
      std::vector<std::uint8_t> bytes = HexTripletsToBytes(fields.text);
      texts.name.assign(fields.name);
      registry.PutBytes(texts.name, bytes.data(), static_cast<std::int32_t>(bytes.size()));
      break;
    }
    case ValueType::kNone:
      return false;
  }
  return true;
}

// A value line longer than the reader keeps: its data would be longer than
// any the program writes, so the write fails as a refused one does.
void RefuseCutValue(std::string_view line) {
  ValueFields fields = SplitValueLine(line);
  if (ValueTypeOf(fields.type_word) != ValueType::kNone)
    throw ERegistryException("Failed to set data for '" + std::string(fields.name) + "'");
}

// The value lines of the key in hand. They are gathered while the file is
// read and written when the key's section ends, with the key opened just for
// them: the file is never read while a key's values are half written, so that
// the registry store may commit what it holds before each read of the file
// without cutting a key's values in two. A key whose value lines exceed
// kMaxPendingBytes is written in parts of about that size. While a line is
// written, `writing_line` holds its number, which a failed write concerns.
class PendingValues {
  struct Line {
    std::size_t end = 0;     // where the line ends in text_
    std::size_t number = 0;  // its number in the file
  };

 public:
  explicit PendingValues(std::size_t* writing_line) : writing_line_(writing_line) {}

  // Takes the value lines of the key at `path` from now on; `path` null:
  // lines that come before any key, which cannot be written.
  void StartKey(const std::string* path) {
    path_ = path;
    text_.clear();
    lines_.clear();
  }
  // Takes a value line; `cut` when the reader kept only its start.
  void Add(TRegistry& registry, std::string_view line, std::size_t number, bool cut,
           LineTexts& texts) {
    if (cut || line.size() >= kMaxPendingBytes) {
      // A long line is written where it lies instead of being copied, after
      // the lines before it.
      Write(registry, texts);
      OpenKey(registry);
      *writing_line_ = number;
      if (cut) {
        RefuseCutValue(line);
        TheRunOutcome().Note(RunEvent::kLineSkipped);
      } else {
        WriteLine(registry, line, texts);
      }
      CloseKey(registry);
      return;
    }
    text_.append(line);
    lines_.push_back(Line{text_.size(), number});
    if (text_.size() >= kMaxPendingBytes)
      Write(registry, texts);
  }
  // Writes what is gathered into the key.
  void Write(TRegistry& registry, LineTexts& texts) {
    if (lines_.empty())
      return;
    OpenKey(registry);
    std::size_t start = 0;
    for (const Line& line : lines_) {
      *writing_line_ = line.number;
      WriteLine(registry, std::string_view(text_).substr(start, line.end - start), texts);
      start = line.end;
    }
    text_.clear();
    lines_.clear();
    CloseKey(registry);
  }

 private:
  static constexpr std::size_t kMaxPendingBytes = 1 << 20;

  void OpenKey(TRegistry& registry) {
    if (path_)
      registry.OpenPath(*path_, true);
  }
  void CloseKey(TRegistry& registry) {
    *writing_line_ = 0;
    registry.ClosePath();
  }
  void WriteLine(TRegistry& registry, std::string_view line, LineTexts& texts) {
    if (!WriteValue(registry, line, texts))
      TheRunOutcome().Note(RunEvent::kLineSkipped);
  }

  std::size_t* writing_line_;
  const std::string* path_ = nullptr;
  std::string text_;
  std::vector<Line> lines_;
};

// Imports the lines of an open file. Answers true when the end of the file
// was reached, false when the import stopped early (a message has been shown).
bool ImportLines(TRegistry& registry, TTextReader& reader, const std::string& file_name,
                 plat::RegKey root, const std::string& expected_product, bool show_errors,
                 std::uint8_t import_scope, std::size_t* writing_line) {
  RunOutcome& outcome = TheRunOutcome();
  if (!WithHandshakeKey(registry, file_name, 0, [&] { registry.PutDword(kHandshakeValue, 0); }))
    return false;
  // "Loading" is in the store before anything of the file is.
  plat::FlushPendingWrites();

  registry.SelectRoot(root);
  registry.SetDeferFlush(true);
  bool may_write = ImportScopeAllows(registry.Root(), import_scope);
  LineTexts texts;
  PendingValues pending(writing_line);
  reader.SetKeepWhole(LineNeedsAll);

  // Runs a step that writes values. A write that failed because the
  // registry refuses everyone is told as that (answers false); any other
  // failed write passes on as it is.
  auto writes = [&](auto step) {
    try {
      step();
    } catch (const ERegistryException&) {
      if (StoppedByRegistry(file_name, *writing_line ? *writing_line : reader.LineNumber()))
        return false;
      throw;
    }
    return true;
  };

  while (!reader.Eof()) {
    std::string_view line = reader.ReadLineView();
    const bool cut = reader.LineWasCut();
    const LineKind kind = ClassifyLine(line);
    if (kind == LineKind::kValue) {
      if (!may_write)
        outcome.Note(RunEvent::kLineSkipped);
      else if (!writes([&] { pending.Add(registry, line, reader.LineNumber(), cut, texts); }))
        return false;
      continue;
    }
    if (kind == LineKind::kBlank || kind == LineKind::kIgnored)
      continue;
    // What is gathered is written before any other line takes effect; a key
    // or root line also ends the section of the key in hand.
    if (!writes([&] { pending.Write(registry, texts); }))
      return false;
    if (kind == LineKind::kKey || kind == LineKind::kRoot)
      pending.StartKey(nullptr);
    switch (kind) {
      case LineKind::kKey: {
        if (!may_write) {
          outcome.Note(RunEvent::kLineSkipped);
          break;
        }
        // A key path longer than the reader keeps is longer than any the
        // registry takes: the key is refused as the registry refuses it.
        std::string& path = texts.path;
        if (!cut) {
          path.assign(KeyPathOf(line));
          if (CanWriteRegKey(path, registry.Root())) {
            pending.StartKey(&path);
            break;
          }
          if (StoppedByRegistry(file_name, reader.LineNumber()))
            return false;
        }
        outcome.Note(RunEvent::kWriteRefused);
        if (show_errors) {
          plat::SetMessageLocation(file_name, reader.LineNumber());
          ShowKeyRefused(registry.Root());
          return false;
        }
        may_write = false;
        break;
      }
      case LineKind::kProduct: {
        std::string_view product = ProductNameOf(line);
        if (cut || product != expected_product) {
          outcome.Note(RunEvent::kWrongProduct);
          plat::SetMessageLocation(file_name, reader.LineNumber());
          ShowWrongProduct(cut ? std::string(line.substr(2, 1024)) + "..." : std::string(product));
          return false;
        }
        break;
      }
      case LineKind::kRoot: {
        plat::RegKey named = plat::kNullKey;
        // A root line longer than the reader keeps names no root.
        if (!cut && RootKeyOfName(RootNameOf(line), &named))
          registry.SelectRoot(named);
        may_write = ImportScopeAllows(registry.Root(), import_scope);
        break;
      }
      default:
        break;
    }
  }

  if (!writes([&] { pending.Write(registry, texts); }))
    return false;
  registry.ClosePath();
  // Everything of the file is in the store before "Loading" goes.
  plat::FlushPendingWrites();
  const bool done = WithHandshakeKey(registry, file_name, reader.LineNumber(), [&] {
    registry.PutDword(kHandshakeValue, 1);
    // When another writer has changed the value meanwhile, it is left as that
    // writer left it.
    bool read_back =
        AwaitHandshakeValue([&] { return registry.GetDword(kHandshakeValue); }, kHandshakeWait);
    if (read_back)
      registry.RemoveValue(kHandshakeValue);
  });
  plat::FlushPendingWrites();
  return done;
}

}  // namespace

bool ImportScopeAllows(plat::RegKey root, std::uint8_t import_scope) {
  if (root == plat::kHkeyCurrentUser)
    return import_scope == 0 || import_scope == 2;
  if (root == plat::kHkeyLocalMachine)
    return import_scope == 1 || import_scope == 2;
  return true;
}

std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text) {
  return HexTripletsToBytes(text, NumberChars());
}

std::vector<std::uint8_t> HexTripletsToBytes(std::string_view text,
                                             const LocaleNumberChars& chars) {
  const std::size_t count = text.size() / 3;
  std::vector<std::uint8_t> bytes(count, 0);
  // A pair is "$" and its two characters read as a number. Unless the
  // locale rewrites one of these three characters (as a separator or a
  // sign), that number is the two digits, or the first one alone when the
  // second is none, or 0 when the first is none: the pair is read directly.
  bool rewritten[256] = {};
  for (char c : {chars.thousand_separator, chars.positive_sign, chars.negative_sign,
                 chars.decimal_separator}) {
    if (c != '\0')
      rewritten[static_cast<unsigned char>(c)] = true;
  }
  const bool dollar_rewritten = rewritten[static_cast<unsigned char>('$')];
  char pair[3] = {'$', 0, 0};
  for (std::size_t k = 0; k < count; ++k) {
    const char high = text[3 * k];
    const char low = text[3 * k + 1];
    if (!dollar_rewritten && !rewritten[static_cast<unsigned char>(high)] &&
        !rewritten[static_cast<unsigned char>(low)]) {
      const int h = HexDigitValue(high);
      const int l = HexDigitValue(low);
      bytes[k] = static_cast<std::uint8_t>(h < 0 ? 0 : l < 0 ? h : h * 16 + l);
      continue;
    }
    pair[1] = high;
    pair[2] = low;
    bytes[k] = static_cast<std::uint8_t>(LocaleStrToInt(std::string_view(pair, 3), chars) & 0xFF);
  }
  return bytes;
}

bool ImportConfigFile(plat::RegKey root, const std::string& file_name,
                      const std::string& expected_product, bool show_errors,
                      std::uint8_t import_scope) {
  bool result = false;
  TTextReader reader;
  try {
    reader.Open(file_name);
    {
      // Leaving this block, by any way, closes the open key and releases the
      // registry object before the file is closed.
      TRegistry registry;
      std::size_t writing_line = 0;
      try {
        result = ImportLines(registry, reader, file_name, root, expected_product, show_errors,
                             import_scope, &writing_line);
      } catch (const ERegistryException&) {
        // The error box that tells of it is shown by the caller; it
        // concerns the value line being written, or else the line read last.
        TheRunOutcome().Note(RunEvent::kWriteFailed);
        plat::SetMessageLocation(file_name, writing_line ? writing_line : reader.LineNumber());
        throw;
      }
    }
    reader.Close();
  } catch (const EInOutError& error) {
    TheRunOutcome().Note(RunEvent::kFileUnreadable);
    // An error of the open or the close concerns the file as a whole.
    plat::SetMessageLocation(file_name, reader.IsOpen() ? reader.LineNumber() : 0);
    // The clean-up comes first: the file is closed before the user is told.
    if (reader.IsOpen()) {
      try {
        reader.Close();
      } catch (const EInOutError&) {
        // The first error is the one the user is shown.
      }
    }
    ShowFileError(error, file_name);
  }
  return result;
}
