#include "regdefs/status_text.h"

namespace regdefs {

namespace {

struct StatusEntry {
  Status status;
  const char* text;
};

constexpr StatusEntry kStatusTexts[] = {
    {kErrorSuccess, "the operation completed successfully"},
    {kErrorInvalidFunction, "incorrect function"},
    {kErrorFileNotFound, "the system was unable to find the specified registry key or value"},
    {kErrorPathNotFound, "the system cannot find the path specified"},
    {kErrorTooManyOpenFiles, "the system cannot open the file: too many files are open"},
    {kErrorAccessDenied,
     "access is denied: the key, a key above it or a key below it is protected, or its values "
     "are locked"},
    {kErrorInvalidHandle, "the handle is invalid"},
    {kErrorNotEnoughMemory, "there is not enough memory"},
    {kErrorInvalidData, "the data is invalid"},
    {kErrorWriteProtect, "the registry store is read-only, or belongs to another user"},
    {kErrorGenFailure, "a device attached to the system is not functioning"},
    {kErrorSharingViolation, "the file is being used by another process"},
    {kErrorInvalidParameter, "the parameter is incorrect"},
    {kErrorDiskFull, "the registry store's disk is full"},
    {kErrorInvalidName, "the file name, folder name or key name is not valid"},
    {kErrorBadPathname, "the specified path is invalid"},
    {kErrorBusy,
     "the registry store is busy: other programs have held it for longer than this program "
     "waits"},
    {kErrorFilenameExcedRange, "the file name or extension is too long"},
    {kErrorMoreData, "more data is available"},
    {kErrorNoAccess, "invalid access to memory location"},
    {kErrorIoDevice, "the registry store's disk failed a read or a write"},
    {kErrorBadDb,
     "the registry store is damaged, was replaced or removed, or is not a registry store"},
    {kErrorKeyDeleted, "the registry key has been deleted"},
    {kErrorCantResolveFilename, "the name of the file cannot be resolved by the system"},
};

const char* FindText(Status status) {
  for (const StatusEntry& entry : kStatusTexts) {
    if (entry.status == status)
      return entry.text;
  }
  return nullptr;
}

}  // namespace

std::string StatusText(Status status) {
  const char* text = FindText(status);
  return text ? std::string(text) : "error " + std::to_string(status);
}

bool HasStatusText(Status status) {
  return FindText(status) != nullptr;
}

}  // namespace regdefs
