// What the import tells: its message boxes, and the texts of the listing
// that the dry run writes.
#ifndef BREVLIN_IMPORT_IMPORT_MESSAGES_H_
#define BREVLIN_IMPORT_IMPORT_MESSAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/exceptions.h"
#include "platform/registry.h"

// The message boxes of the import.
void ShowKeyRefused(plat::RegKey root);
void ShowWrongProduct(std::string_view product);
void ShowFileError(const EInOutError& error, const std::string& file_name);
void ShowStoreProblem(plat::Status state);

// What keeps the registry store from taking writes, for a state that
// plat::RegistryState answers.
std::string StoreProblemText(plat::Status state);

// A file error's message, with the system's own reason where it has one.
std::string FileErrorReason(const EInOutError& error);

// A text in double quotes, with the characters that would hide what it
// holds escaped: quote, backslash, tab, CR, LF and the other control bytes
// (regdefs::ShownText). The listing shows key paths as ShownText does.
std::string QuotedForListing(std::string_view text);
// A REG_DWORD value as "0x0000000c (12)".
std::string DwordForListing(std::int32_t value);

#endif  // BREVLIN_IMPORT_IMPORT_MESSAGES_H_
