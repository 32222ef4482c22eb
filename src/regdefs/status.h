// Status codes of the registry's vocabulary.
//
// Every registry operation answers a Win32 error code: on Windows the one the
// system gave, elsewhere the nearest one, so that callers see the same
// answers on every system.
#ifndef BREVLIN_REGDEFS_STATUS_H_
#define BREVLIN_REGDEFS_STATUS_H_

#include <cstdint>

namespace regdefs {

using Status = std::uint32_t;

constexpr Status kErrorSuccess = 0;
constexpr Status kErrorInvalidFunction = 1;
constexpr Status kErrorFileNotFound = 2;
constexpr Status kErrorPathNotFound = 3;
constexpr Status kErrorTooManyOpenFiles = 4;
constexpr Status kErrorAccessDenied = 5;
constexpr Status kErrorInvalidHandle = 6;
constexpr Status kErrorNotEnoughMemory = 8;
constexpr Status kErrorInvalidData = 13;
constexpr Status kErrorWriteProtect = 19;
constexpr Status kErrorGenFailure = 31;
constexpr Status kErrorSharingViolation = 32;
constexpr Status kErrorInvalidParameter = 87;
constexpr Status kErrorDiskFull = 112;
constexpr Status kErrorInvalidName = 123;
constexpr Status kErrorBadPathname = 161;
constexpr Status kErrorBusy = 170;
constexpr Status kErrorFilenameExcedRange = 206;
constexpr Status kErrorMoreData = 234;
constexpr Status kErrorNoAccess = 998;
constexpr Status kErrorIoDevice = 1117;
constexpr Status kErrorBadDb = 1009;
constexpr Status kErrorKeyDeleted = 1018;
constexpr Status kErrorCantResolveFilename = 1921;

}  // namespace regdefs

#endif  // BREVLIN_REGDEFS_STATUS_H_
