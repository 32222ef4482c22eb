// Hidden windows and the message queue of the program's thread.
//
// On Windows these are real windows of user32 and the thread's real message
// queue. Elsewhere they are stand-ins with the same behaviour wherever the
// program can tell: a table of windows that records their styles and
// visibility, and a queue that PostQuitMessage feeds.
#ifndef BREVLIN_PLATFORM_WINDOW_H_
#define BREVLIN_PLATFORM_WINDOW_H_

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace plat {

// Indexes of GetWindowLongA and SetWindowLongA.
constexpr int kGwlStyle = -16;
constexpr int kGwlExStyle = -20;

// Window styles.
constexpr std::uint32_t kWsPopup = 0x80000000u;
constexpr std::uint32_t kWsVisible = 0x10000000u;
constexpr std::uint32_t kWsClipSiblings = 0x04000000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kWsSysMenu = 0x00080000u;
constexpr std::uint32_t kWsMinimizeBox = 0x00020000u;
constexpr std::uint32_t kWsExToolWindow = 0x00000080u;

// Messages and PeekMessageA's removal flag.
constexpr std::uint32_t kWmQuit = 0x0012;
constexpr std::uint32_t kPmRemove = 0x0001;

// A message taken off the queue.
struct Msg {
  Window window = kNoWindow;
  std::uint32_t message = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
  std::uint32_t time = 0;
  std::int32_t x = 0;  // the cursor position when the message was posted
  std::int32_t y = 0;
};

// ShowWindow's commands.
constexpr int kSwHide = 0;
constexpr int kSwShow = 5;

// Creates a top-level window of the window class `class_name`, which answers
// every message with the system's default handling. The window is created
// hidden: WS_VISIBLE is left out of `style` whatever the caller passes.
// Answers null on failure.
Window CreateHiddenWindow(std::uint32_t ex_style, const std::string& class_name,
                          const std::string& title, std::uint32_t style);
bool DestroyWindow(Window window);

bool IsWindowVisible(Window window);
// Shows or hides the window (kSwShow, kSwHide); answers whether it was
// visible before.
bool ShowWindow(Window window, int command);
bool SetWindowTextA(Window window, const std::string& text);

// GWL_STYLE and GWL_EXSTYLE. SetWindowLongA answers the previous value; both
// answer 0 for a window that does not exist.
std::int32_t GetWindowLongA(Window window, int index);
std::int32_t SetWindowLongA(Window window, int index, std::int32_t value);

// The active window of the calling thread, or null.
Window GetActiveWindow();
// The pop-up owned by `window` that was active last, or `window` itself when
// it has none.
Window GetLastActivePopup(Window window);

// Asks the thread's message loop to end: a quit message with `exit_code`
// comes off the queue once the messages posted before it are taken.
void PostQuitMessage(int exit_code);
// Takes the next message (with kPmRemove, off the queue) into `*msg`; answers
// false when none is waiting. `window`, `first` and `last` filter as on
// Windows; null and 0, 0 take every message.
bool PeekMessageA(Msg* msg, Window window, std::uint32_t first, std::uint32_t last,
                  std::uint32_t remove);
bool TranslateMessage(const Msg& msg);
std::intptr_t DispatchMessageA(const Msg& msg);
// Waits until a message is waiting in the queue.
void WaitMessage();

}  // namespace plat

#endif  // BREVLIN_PLATFORM_WINDOW_H_
