#include "import/imp_exp_reg.h"

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

// Runs `write` on the handshake key, if it opens, and closes the key again on
// every way out.
template <typename Write>
void WithHandshakeKey(TRegistry& registry, Write write) {
  registry.SelectRoot(plat::kHkeyCurrentUser);
  if (!registry.OpenPath(kHandshakeKey, true))
    return;
  try {
    write();
  } catch (...) {
    registry.ClosePath();
    throw;
  }
  registry.ClosePath();
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

// Imports the lines of an open file. Answers true when the end of the file
// was reached, false when the import stopped early (a message has been shown).
bool ImportLines(TRegistry& registry, TTextReader& reader, const std::string& file_name,
                 plat::RegKey root, const std::string& expected_product, bool show_errors,
                 std::uint8_t import_scope) {
  RunOutcome& outcome = TheRunOutcome();
  WithHandshakeKey(registry, [&] { registry.PutDword(kHandshakeValue, 0); });

  registry.SelectRoot(root);
  registry.SetDeferFlush(true);
  bool may_write = ImportScopeAllows(registry.Root(), import_scope);
  LineTexts texts;

  while (!reader.Eof()) {
    std::string_view line = reader.ReadLineView();
    switch (ClassifyLine(line)) {
      case LineKind::kBlank:
      case LineKind::kIgnored:
        break;
      case LineKind::kKey: {
        registry.ClosePath();
        if (!may_write) {
          outcome.Note(RunEvent::kLineSkipped);
          break;
        }
        std::string& path = texts.path;
        path.assign(KeyPathOf(line));
        if (CanWriteRegKey(path, registry.Root())) {
          registry.OpenPath(path, true);
          break;
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
        if (product != expected_product) {
          outcome.Note(RunEvent::kWrongProduct);
          plat::SetMessageLocation(file_name, reader.LineNumber());
          ShowWrongProduct(product);
          return false;
        }
        break;
      }
      case LineKind::kRoot: {
        registry.ClosePath();
        plat::RegKey named = plat::kNullKey;
        if (RootKeyOfName(RootNameOf(line), &named))
          registry.SelectRoot(named);
        may_write = ImportScopeAllows(registry.Root(), import_scope);
        break;
      }
      case LineKind::kValue:
        if (!may_write || !WriteValue(registry, line, texts))
          outcome.Note(RunEvent::kLineSkipped);
        break;
    }
  }

  registry.ClosePath();
  WithHandshakeKey(registry, [&] {
    registry.PutDword(kHandshakeValue, 1);
    // When another writer has changed the value meanwhile, it is left as that
    // writer left it.
    bool read_back =
        AwaitHandshakeValue([&] { return registry.GetDword(kHandshakeValue); }, kHandshakeWait);
    if (read_back)
      registry.RemoveValue(kHandshakeValue);
  });
  return true;
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
      try {
        result = ImportLines(registry, reader, file_name, root, expected_product, show_errors,
                             import_scope);
      } catch (const ERegistryException&) {
        // The error box that tells of it is shown by the caller; it
        // concerns the line read last.
        TheRunOutcome().Note(RunEvent::kWriteFailed);
        plat::SetMessageLocation(file_name, reader.LineNumber());
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
