#include "platform/file.h"

#include "platform/win32/windows_wrapper.h"

namespace plat {

namespace {

HANDLE AsHandle(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

Status ReadOnlyFile::Open(const std::string& name) {
  if (IsOpen())
    return kErrorInvalidFunction;
  // Should the name lead to a named pipe, its server may only identify this
  // program, never act in its name: the program may run with administrator
  // rights.
  HANDLE h = ::CreateFileA(
      name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return ::GetLastError();
  // Only files on disk are read: a pipe or a device (NUL, CON, COM1) could
  // feed the program anything, or keep it waiting for ever.
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return ERROR_ACCESS_DENIED;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return kErrorSuccess;
}

Status ReadOnlyFile::Read(void* buffer, std::size_t size, std::size_t* got) {
  *got = 0;
  if (!IsOpen())
    return kErrorInvalidHandle;
  // ReadFile takes a 32-bit count; larger requests are read in parts by the caller.
  DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD read = 0;
  if (!::ReadFile(AsHandle(handle_), buffer, want, &read, nullptr))
    return ::GetLastError();
  *got = read;
  return kErrorSuccess;
}

Status ReadOnlyFile::Close() {
  if (!IsOpen())
    return kErrorSuccess;
  HANDLE h = AsHandle(handle_);
  handle_ = kClosed;
  return ::CloseHandle(h) ? kErrorSuccess : ::GetLastError();
}

}  // namespace plat
