// The one place where <windows.h> is included.
#ifndef BREVLIN_PLATFORM_WIN32_WINDOWS_WRAPPER_H_
#define BREVLIN_PLATFORM_WIN32_WINDOWS_WRAPPER_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // Windows Vista, the oldest system the program declares
#endif

#include <windows.h>

#endif  // BREVLIN_PLATFORM_WIN32_WINDOWS_WRAPPER_H_
