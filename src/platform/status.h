// Status codes of the platform layer.
//
// Every platform operation answers a Win32 error code (regdefs/status.h), on
// Windows the one the system gave and elsewhere the nearest one, so that the
// code above the platform layer sees the same answers on every system.
#ifndef BREVLIN_PLATFORM_STATUS_H_
#define BREVLIN_PLATFORM_STATUS_H_

#include <string>

#include "regdefs/status.h"

namespace plat {

// The platform layer speaks the registry's vocabulary: plat::Status,
// plat::kErrorSuccess and the rest are the names of regdefs.
using namespace regdefs;

// The system's own text for the failure that last gave `status` on this
// thread (on Linux, strerror of the errno it came from), or an empty text
// when there is none: always on Windows, whose codes are the system's own.
std::string SystemErrorText(Status status);

}  // namespace plat

#endif  // BREVLIN_PLATFORM_STATUS_H_
