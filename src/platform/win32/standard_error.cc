#include "platform/win32/standard_error.h"

#include "platform/win32/windows_wrapper.h"

namespace plat {
namespace win32 {

void WriteStandardError(const std::string& text) {
  HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
    return;
  const char* data = text.data();
  std::string::size_type left = text.size();
  while (left > 0) {
    DWORD written = 0;
    if (!::WriteFile(handle, data, static_cast<DWORD>(left), &written, nullptr) || written == 0)
      return;
    data += written;
    left -= written;
  }
}

}  // namespace win32
}  // namespace plat
