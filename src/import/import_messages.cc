#include "import/import_messages.h"

#include <cstdio>

#include "common/globals.h"
#include "import/config_line.h"
#include "platform/ui.h"

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

void ShowStoreProblem(plat::Status state) {
  plat::MessageBoxA(plat::kNoWindow,
                    StoreProblemText(state) + "\r\nThe import stopped; nothing more was written.",
                    std::string(kApplicationTitle) + " Registry Error", kBoxStyle);
}

std::string ShownForListing(std::string_view text) {
  std::string shown;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof(escape), "\\x%02x", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string QuotedForListing(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof(escape), "\\x%02x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string DwordForListing(std::int32_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%08x (%d)", static_cast<unsigned>(value),
                static_cast<int>(value));
  return text;
}
