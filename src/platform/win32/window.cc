#include "platform/window.h"

#include <mutex>
#include <set>

#include "platform/win32/windows_wrapper.h"

namespace plat {

namespace {

HWND AsHwnd(Window window) {
  return reinterpret_cast<HWND>(window);
}
Window AsWindow(HWND hwnd) {
  return reinterpret_cast<Window>(hwnd);
}

// Registers the window class once per name; its windows get the default
// handling of every message.
bool EnsureClass(const std::string& class_name) {
  static std::mutex mutex;
  static std::set<std::string> registered;
  std::lock_guard<std::mutex> lock(mutex);
  if (registered.count(class_name) != 0)
    return true;
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = ::DefWindowProcA;
  window_class.hInstance = ::GetModuleHandleA(nullptr);
  window_class.lpszClassName = class_name.c_str();
  if (::RegisterClassA(&window_class) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  registered.insert(class_name);
  return true;
}

MSG ToNative(const Msg& msg) {
  MSG native = {};
  native.hwnd = AsHwnd(msg.window);
  native.message = msg.message;
  native.wParam = msg.wparam;
  native.lParam = msg.lparam;
  native.time = msg.time;
  native.pt.x = msg.x;
  native.pt.y = msg.y;
  return native;
}

}  // namespace

Window CreateHiddenWindow(std::uint32_t ex_style, const std::string& class_name,
                          const std::string& title, std::uint32_t style) {
  if (!EnsureClass(class_name))
    return kNoWindow;
  HWND hwnd = ::CreateWindowExA(ex_style, class_name.c_str(), title.c_str(), style & ~WS_VISIBLE, 0,
                                0, 0, 0, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  return AsWindow(hwnd);
}

bool DestroyWindow(Window window) {
  return ::DestroyWindow(AsHwnd(window)) != FALSE;
}

bool IsWindowVisible(Window window) {
  return ::IsWindowVisible(AsHwnd(window)) != FALSE;
}

bool ShowWindow(Window window, int command) {
  return ::ShowWindow(AsHwnd(window), command) != FALSE;
}

bool SetWindowTextA(Window window, const std::string& text) {
  return ::SetWindowTextA(AsHwnd(window), text.c_str()) != FALSE;
}

std::int32_t GetWindowLongA(Window window, int index) {
  return ::GetWindowLongA(AsHwnd(window), index);
}

std::int32_t SetWindowLongA(Window window, int index, std::int32_t value) {
  return ::SetWindowLongA(AsHwnd(window), index, value);
}

Window GetActiveWindow() {
  return AsWindow(::GetActiveWindow());
}

Window GetLastActivePopup(Window window) {
  return AsWindow(::GetLastActivePopup(AsHwnd(window)));
}

void PostQuitMessage(int exit_code) {
  ::PostQuitMessage(exit_code);
}

bool PeekMessageA(Msg* msg, Window window, std::uint32_t first, std::uint32_t last,
                  std::uint32_t remove) {
  MSG native;
  if (!::PeekMessageA(&native, AsHwnd(window), first, last, remove))
    return false;
  msg->window = AsWindow(native.hwnd);
  msg->message = native.message;
  msg->wparam = native.wParam;
  msg->lparam = native.lParam;
  msg->time = native.time;
  msg->x = native.pt.x;
  msg->y = native.pt.y;
  return true;
}

bool TranslateMessage(const Msg& msg) {
  MSG native = ToNative(msg);
  return ::TranslateMessage(&native) != FALSE;
}

std::intptr_t DispatchMessageA(const Msg& msg) {
  MSG native = ToNative(msg);
  return ::DispatchMessageA(&native);
}

void WaitMessage() {
  ::WaitMessage();
}

}  // namespace plat
