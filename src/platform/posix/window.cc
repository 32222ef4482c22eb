#include "platform/window.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace plat {

namespace {

struct WindowRecord {
  std::string class_name;
  std::string title;
  std::uint32_t style;
  std::uint32_t ex_style;
};

// The windows of the process and its one message queue. Nothing here is ever
// drawn, and no window is ever activated; a window counts as visible when
// WS_VISIBLE is set in its style, as on Windows.
//
// The only message the program posts is the quit request, so the queue holds
// a pending quit and its exit code. As on Windows, the quit message comes off
// the queue once, after everything posted before it.
class Desktop {
 public:
  static Desktop& Get() {
    static Desktop desktop;
    return desktop;
  }

  Window Create(std::uint32_t ex_style, const std::string& class_name, const std::string& title,
                std::uint32_t style) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Handles look like Windows' own: small, even and never reused.
    next_handle_ += 4;
    windows_[next_handle_] = WindowRecord{class_name, title, style & ~kWsVisible, ex_style};
    return next_handle_;
  }

  bool Destroy(Window window) {
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_.erase(window) == 1;
  }

  // Runs `action` on the window's record; false when there is no such window.
  template <typename Action>
  bool With(Window window, Action action) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = windows_.find(window);
    if (found == windows_.end())
      return false;
    action(found->second);
    return true;
  }

  void PostQuit(int exit_code) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_pending_ = true;
      quit_code_ = exit_code;
    }
    queue_changed_.notify_all();
  }

  bool TakeQuit(Msg* msg, bool remove) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!quit_pending_)
      return false;
    *msg = Msg();
    msg->message = kWmQuit;
    msg->wparam = static_cast<std::uintptr_t>(quit_code_);
    if (remove)
      quit_pending_ = false;
    return true;
  }

  // Nothing but another thread's PostQuitMessage can end this wait.
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    queue_changed_.wait(lock, [this] { return quit_pending_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable queue_changed_;
  std::map<Window, WindowRecord> windows_;
  Window next_handle_ = 0x10000;
  bool quit_pending_ = false;
  int quit_code_ = 0;
};

}  // namespace

Window CreateHiddenWindow(std::uint32_t ex_style, const std::string& class_name,
                          const std::string& title, std::uint32_t style) {
  return Desktop::Get().Create(ex_style, class_name, title, style);
}

bool DestroyWindow(Window window) {
  return Desktop::Get().Destroy(window);
}

bool IsWindowVisible(Window window) {
  bool visible = false;
  Desktop::Get().With(window, [&](WindowRecord& w) { visible = (w.style & kWsVisible) != 0; });
  return visible;
}

bool ShowWindow(Window window, int command) {
  bool was_visible = false;
  Desktop::Get().With(window, [&](WindowRecord& w) {
    was_visible = (w.style & kWsVisible) != 0;
    if (command == kSwHide) {
      w.style &= ~kWsVisible;
    } else {
      w.style |= kWsVisible;
    }
  });
  return was_visible;
}

bool SetWindowTextA(Window window, const std::string& text) {
  return Desktop::Get().With(window, [&](WindowRecord& w) { w.title = text; });
}

std::int32_t GetWindowLongA(Window window, int index) {
  std::uint32_t value = 0;
  Desktop::Get().With(window, [&](WindowRecord& w) {
    if (index == kGwlStyle)
      value = w.style;
    if (index == kGwlExStyle)
      value = w.ex_style;
  });
  return static_cast<std::int32_t>(value);
}

std::int32_t SetWindowLongA(Window window, int index, std::int32_t value) {
  std::uint32_t previous = 0;
  Desktop::Get().With(window, [&](WindowRecord& w) {
    std::uint32_t* field = index == kGwlStyle     ? &w.style
                           : index == kGwlExStyle ? &w.ex_style
                                                  : nullptr;
    if (field == nullptr)
      return;
    previous = *field;
    *field = static_cast<std::uint32_t>(value);
  });
  return static_cast<std::int32_t>(previous);
}

Window GetActiveWindow() {
  return kNoWindow;
}

Window GetLastActivePopup(Window window) {
  // No window here ever owns a pop-up: message boxes go to standard error.
  return Desktop::Get().With(window, [](WindowRecord&) {}) ? window : kNoWindow;
}

void PostQuitMessage(int exit_code) {
  Desktop::Get().PostQuit(exit_code);
}

bool PeekMessageA(Msg* msg, Window window, std::uint32_t first, std::uint32_t last,
                  std::uint32_t remove) {
  // The quit message is the only one here, and Windows hands it out whatever
  // the filters.
  (void)window;
  (void)first;
  (void)last;
  return Desktop::Get().TakeQuit(msg, (remove & kPmRemove) != 0);
}

bool TranslateMessage(const Msg&) {
  return false;
}

std::intptr_t DispatchMessageA(const Msg&) {
  return 0;
}

void WaitMessage() {
  Desktop::Get().Wait();
}

}  // namespace plat
