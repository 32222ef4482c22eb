// Status codes of the platform layer.
//
// Every platform operation answers a Win32 error code, on Windows the one the
// system gave and elsewhere the nearest one, so that the code above the
// platform layer sees the same answers on every system.
#ifndef BREVLIN_PLATFORM_STATUS_H_
#define BREVLIN_PLATFORM_STATUS_H_

#include <cstdint>
#include <string>

namespace plat {

using Status = std::uint32_t;

constexpr Status kErrorSuccess = 0;
constexpr Status kErrorInvalidFunction = 1;
constexpr Status kErrorFileNotFound = 2;
constexpr Status kErrorPathNotFound = 3;
constexpr Status kErrorTooManyOpenFiles = 4;
constexpr Status kErrorAccessDenied = 5;
constexpr Status kErrorInvalidHandle = 6;
constexpr Status kErrorNotEnoughMemory = 8;
constexpr Status kErrorWriteProtect = 19;
constexpr Status kErrorGenFailure = 31;
constexpr Status kErrorSharingViolation = 32;
constexpr Status kErrorLockViolation = 33;
constexpr Status kErrorHandleEof = 38;
constexpr Status kErrorInvalidParameter = 87;
constexpr Status kErrorDiskFull = 112;
constexpr Status kErrorInvalidName = 123;
constexpr Status kErrorBadPathname = 161;
constexpr Status kErrorBusy = 170;
constexpr Status kErrorFilenameExcedRange = 206;
constexpr Status kErrorMoreData = 234;
constexpr Status kErrorNoMoreItems = 259;
constexpr Status kErrorNoAccess = 998;
constexpr Status kErrorIoDevice = 1117;
constexpr Status kErrorBadDb = 1009;
constexpr Status kErrorKeyDeleted = 1018;
constexpr Status kErrorCantResolveFilename = 1921;

// The system's own text for the failure that last gave `status` on this
// thread (on Linux, strerror of the errno it came from), or an empty text
// when there is none: always on Windows, whose codes are the system's own.
std::string SystemErrorText(Status status);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_STATUS_H_
