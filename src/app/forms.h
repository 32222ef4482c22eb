// A small application framework: the application object with its hidden
// application window and its message loop, and the forms it creates.
#ifndef BREVLIN_APP_FORMS_H_
#define BREVLIN_APP_FORMS_H_

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/object.h"
#include "platform/ui.h"

class TApplication;

// An event handler; `sender` is the object that raised the event.
using TNotifyEvent = std::function<void(TObject* sender)>;

// A form: a top-level window of the application, created by
// TApplication::CreateForm.
class TForm : public TObject {
 public:
  // `class_name` names the window class of the form's window.
  TForm(TApplication& application, std::string class_name);
  // Destroys the form's window.
  ~TForm() override;

  TApplication& Application() const { return application_; }
  // The form's window; null until the form's creation has finished.
  plat::Window Handle() const { return handle_; }
  bool Visible() const;
  void Show();

  // Raised once while the form is created, after it has been constructed and
  // before its window exists.
  TNotifyEvent OnCreate;

 private:
  friend class TApplication;

  void CreateHandle();

  TApplication& application_;
  std::string class_name_;
  plat::Window handle_ = plat::kNoWindow;
};

// The application: one per process. It owns the application window (a
// top-level pop-up that is never shown, when there is one), the title, the forms, and the
// message loop with its terminated flag.
class TApplication : public TObject {
 public:
  // Creates the application window, hidden. Where the platform refuses it
  // (no desktop: a service, or Wine with no display), the application runs
  // without one: nothing it does needs the window, and its forms then have
  // none either.
  TApplication();
  // Destroys the forms, then the application window.
  ~TApplication() override;

  plat::Window Handle() const { return handle_; }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);

  // Whether Run shows the main form when the message loop starts.
  bool ShowMainForm() const { return show_main_form_; }
  void SetShowMainForm(bool show) { show_main_form_ = show; }

  // The first form created; null before.
  TForm* MainForm() const { return main_form_; }
  bool Terminated() const { return terminated_; }

  // Creates a form of class `Form`, constructed with this application and
  // `args`: raises its OnCreate, then creates its window, hidden. An
  // exception that leaves OnCreate is shown in the error box (ShowException)
  // and the creation completes all the same; the application then ends once
  // the box is closed, because a form that failed at its creation has left
  // nothing that could end it, and with its windows hidden a user could not
  // either. The first form created becomes the main form. The application
  // owns the form.
  template <typename Form, typename... Args>
  Form* CreateForm(Args&&... args) {
    auto form = std::make_unique<Form>(*this, std::forward<Args>(args)...);
    Form* created = form.get();
    forms_.push_back(std::move(form));
    RaiseOnCreate(*created);
    created->CreateHandle();
    if (main_form_ == nullptr)
      main_form_ = created;
    return created;
  }

  // Runs the message loop until the quit message comes off the queue: each
  // message is translated and dispatched; with none waiting, the loop waits.
  // Shows the main form first when ShowMainForm is set.
  void Run();

  // Asks the message loop to end: posts the quit message.
  void Terminate();

  // The application's error box: `message` as ErrorBoxText gives it, the
  // title as caption, an OK button and the error icon, owned by the active
  // window or else by the application window's last active pop-up.
  void ShowException(const std::string& message);

 private:
  void RaiseOnCreate(TForm& form);

  plat::Window handle_ = plat::kNoWindow;
  std::string title_;
  bool show_main_form_ = true;
  TForm* main_form_ = nullptr;
  bool terminated_ = false;
  std::vector<std::unique_ptr<TForm>> forms_;
};

// The text of the error box for `message`: the message with a "." added when
// it is not empty and its last byte sorts after "." (letters and digits do;
// ".", "!", ")", "," and the single quote do not).
std::string ErrorBoxText(const std::string& message);

#endif  // BREVLIN_APP_FORMS_H_
