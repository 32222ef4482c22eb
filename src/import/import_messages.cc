#include "import/import_messages.h"

#include <cctype>
#include <cstdio>

#include "common/globals.h"
#include "import/config_line.h"
#include "platform/ui.h"
#include "regdefs/shown_text.h"
#include "regdefs/status_text.h"

namespace {

constexpr std::uint32_t kBoxStyle = plat::kMbIconError | plat::kMbSetForeground;

}  // namespace

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

std::string FileErrorReason(const EInOutError& error) {
  std::string reason = error.Message();
  if (!error.SystemText().empty())
    reason += " (" + error.SystemText() + ")";
  return reason;
}

void ShowFileError(const EInOutError& error, const std::string& file_name) {
  plat::MessageBoxA(plat::GetForegroundWindow(),
                    "Could not import the program configuration due to the following error:\r\n" +
                        FileErrorReason(error) +
                        "\r\n\r\nFilename: " + plat::MessageFileName(file_name),
                    kApplicationTitle, kBoxStyle);
}

std::string StoreProblemText(plat::Status state) {
  switch (state) {
    case plat::kErrorBusy:
    case plat::kErrorDiskFull:
    case plat::kErrorWriteProtect:
    case plat::kErrorIoDevice:
    case plat::kErrorBadDb: {
      // The texts of these states tell what is wrong with the store.
      std::string text = regdefs::StatusText(state);
      text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
      return text + ".";
    }
    default:
      // A store that cannot be opened or created answers ERROR_ACCESS_DENIED,
      // whose own text is a key's refusal.
      return "The registry store cannot be opened.";
  }
}

void ShowStoreProblem(plat::Status state) {
  plat::MessageBoxA(plat::kNoWindow,
                    StoreProblemText(state) + "\r\nThe import stopped; nothing more was written.",
                    std::string(kApplicationTitle) + " Registry Error", kBoxStyle);
}

std::string QuotedForListing(std::string_view text) {
  return '"' + regdefs::ShownText(text, regdefs::kShowQuoted) + '"';
}

std::string DwordForListing(std::int32_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%08x (%d)", static_cast<unsigned>(value),
                static_cast<int>(value));
  return text;
}
