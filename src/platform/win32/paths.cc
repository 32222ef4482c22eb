#include "platform/paths.h"

#include <string>

#include "platform/win32/windows_wrapper.h"

namespace plat {

namespace {

Status ToWide(const std::string& text, std::wstring* wide) {
  if (text.empty()) {
    wide->clear();
    return kErrorSuccess;
  }
  int length =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0)
    return ::GetLastError();
  wide->assign(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &(*wide)[0], length);
  return kErrorSuccess;
}

Status FromWide(const std::wstring& wide, std::string* text) {
  if (wide.empty()) {
    text->clear();
    return kErrorSuccess;
  }
  int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                     0, nullptr, nullptr);
  if (length <= 0)
    return ::GetLastError();
  text->assign(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &(*text)[0], length,
                        nullptr, nullptr);
  return kErrorSuccess;
}

// Whether `name` names a device instead of a file: device names such as NUL,
// CON or COM1, and everything in the device namespace, pipes included, expand
// to a path that begins with "\\.\".
bool IsDeviceName(const std::string& name) {
  std::string full;
  return GetFullPathNameA(name, &full) == kErrorSuccess && full.compare(0, 4, "\\\\.\\") == 0;
}

}  // namespace

Status GetFullPathNameA(const std::string& name, std::string* full_path) {
  // The ANSI function converts its argument in a buffer of MAX_PATH
  // characters; the wide one takes paths of any length.
  std::wstring wide_name;
  Status status = ToWide(name, &wide_name);
  if (status != kErrorSuccess)
    return status;
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = ::GetFullPathNameW(wide_name.c_str(), static_cast<DWORD>(buffer.size()),
                                      &buffer[0], nullptr);
    if (length == 0)
      return ::GetLastError();
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    // Too small: `length` is the size needed, terminator included.
    buffer.assign(length, L'\0');
  }
  return FromWide(buffer, full_path);
}

Status GetFileAttributesA(const std::string& name, std::uint32_t* attributes) {
  DWORD found = ::GetFileAttributesA(name.c_str());
  if (found == INVALID_FILE_ATTRIBUTES)
    return ::GetLastError();
  *attributes = IsDeviceName(name) ? (found | kFileAttributeDevice) : found;
  return kErrorSuccess;
}

Status FindFirstFileA(const std::string& name, std::uint32_t* attributes) {
  WIN32_FIND_DATAA data;
  HANDLE search = ::FindFirstFileA(name.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE)
    return ::GetLastError();
  ::FindClose(search);
  *attributes =
      IsDeviceName(name) ? (data.dwFileAttributes | kFileAttributeDevice) : data.dwFileAttributes;
  return kErrorSuccess;
}

}  // namespace plat
