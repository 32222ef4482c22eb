#include "app/forms.h"

#include <new>

#include "common/exceptions.h"
#include "common/run_outcome.h"
#include "platform/window.h"

namespace {

// Both the application window and a form's window are top-level pop-ups
// with a caption, the system menu and a minimise box, and are never shown.
constexpr std::uint32_t kWindowStyle = plat::kWsPopup | plat::kWsCaption | plat::kWsClipSiblings |
                                       plat::kWsSysMenu | plat::kWsMinimizeBox;

}  // namespace

TForm::TForm(TApplication& application, std::string class_name)
    : application_(application), class_name_(std::move(class_name)) {}

TForm::~TForm() {
  if (handle_ != plat::kNoWindow)
    if (handle_ != plat::kNoWindow)
      plat::DestroyWindow(handle_);
}

bool TForm::Visible() const {
  return handle_ != plat::kNoWindow && plat::IsWindowVisible(handle_);
}

void TForm::Show() {
  if (handle_ != plat::kNoWindow)
    plat::ShowWindow(handle_, plat::kSwShow);
}

void TForm::CreateHandle() {
  if (handle_ == plat::kNoWindow) {
    handle_ = plat::CreateHiddenWindow(0, class_name_, application_.Title(), kWindowStyle);
  }
}

TApplication::TApplication() {
  handle_ = plat::CreateHiddenWindow(0, "TApplication", title_, kWindowStyle);
}

TApplication::~TApplication() {
  main_form_ = nullptr;
  // Newest first, as the forms may refer to the ones created before them.
  while (!forms_.empty())
    forms_.pop_back();
  plat::DestroyWindow(handle_);
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (handle_ != plat::kNoWindow)
    plat::SetWindowTextA(handle_, title_);
}

void TApplication::RaiseOnCreate(TForm& form) {
  if (!form.OnCreate)
    return;
  bool failed = true;
  std::string message;
  try {
    form.OnCreate(&form);
    failed = false;
  } catch (const Exception& e) {
    message = e.Message();
  } catch (const std::bad_alloc&) {
    message = "Out of memory";
  } catch (const std::exception& e) {
    message = e.what();
  }
  if (!failed)
    return;
  TheRunOutcome().Note(RunEvent::kInternalError);
  ShowException(message);
  Terminate();
}

void TApplication::Run() {
  if (show_main_form_ && main_form_ != nullptr)
    main_form_->Show();
  while (!terminated_) {
    plat::Msg msg;
    if (!plat::PeekMessageA(&msg, plat::kNoWindow, 0, 0, plat::kPmRemove)) {
      plat::WaitMessage();
    } else if (msg.message == plat::kWmQuit) {
      terminated_ = true;
    } else {
      plat::TranslateMessage(msg);
      plat::DispatchMessageA(msg);
    }
  }
}

void TApplication::Terminate() {
  plat::PostQuitMessage(0);
}

void TApplication::ShowException(const std::string& message) {
  plat::Window owner = plat::GetActiveWindow();
  if (owner == plat::kNoWindow)
    owner = plat::GetLastActivePopup(handle_);
  plat::MessageBoxA(owner, ErrorBoxText(message), title_, plat::kMbOk | plat::kMbIconError);
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
    return message + ".";
  return message;
}
