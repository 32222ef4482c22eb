#include "app/forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/window.h"

namespace {

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetMessageRecorder([this](const plat::ShownMessage& m) { shown_.push_back(m); });
  }
  void TearDown() override { plat::SetMessageRecorder(nullptr); }

  std::vector<plat::ShownMessage> shown_;
};

class TestForm : public TForm {
 public:
  explicit TestForm(TApplication& application) : TForm(application, "TTestForm") {}
};

using Forms = Recording;

TEST_F(Forms, RaiseOnCreateBeforeTheirWindowExistsAndStayHidden) {
  TApplication application;
  EXPECT_FALSE(plat::IsWindowVisible(application.Handle()));
  std::vector<std::string> events;
  TApplication* raised_by = nullptr;
  // The handler is bound in the constructor, as a form resource binds it.
  struct Form : TForm {
    Form(TApplication& app, std::vector<std::string>* events, TApplication** raised_by)
        : TForm(app, "TTestForm") {
      OnCreate = [this, events, raised_by](TObject* sender) {
        events->push_back(sender == this ? "created by itself" : "created by another");
        events->push_back(Handle() == plat::kNoWindow ? "no window yet" : "has a window");
        *raised_by = &Application();
      };
    }
  };
  Form* first = application.CreateForm<Form>(&events, &raised_by);
  EXPECT_EQ(events, (std::vector<std::string>{"created by itself", "no window yet"}));
  EXPECT_EQ(raised_by, &application);
  EXPECT_NE(first->Handle(), plat::kNoWindow);
  EXPECT_FALSE(first->Visible());
  EXPECT_EQ(application.MainForm(), first);
  TestForm* second = application.CreateForm<TestForm>();
  EXPECT_EQ(application.MainForm(), first);
  EXPECT_NE(second->Handle(), first->Handle());
  EXPECT_TRUE(shown_.empty());
}

TEST_F(Forms, MessageLoopEndsOnTheQuitRequest) {
  for (bool show_main_form : {false, true}) {
    TApplication application;
    application.SetShowMainForm(show_main_form);
    TestForm* form = application.CreateForm<TestForm>();
    application.Terminate();
    EXPECT_FALSE(application.Terminated());
    application.Run();
    EXPECT_TRUE(application.Terminated());
    EXPECT_EQ(form->Visible(), show_main_form);
    EXPECT_FALSE(plat::IsWindowVisible(application.Handle()));
  }
}

TEST_F(Forms, ErrorBoxAddsAFullStopAfterLettersAndDigits) {
  struct Case {
    std::string message;
    std::string text;
  } cases[] = {
      {"Failed to set data for 'Count'", "Failed to set data for 'Count'"},
      {"Disk gone", "Disk gone."},
      {"Error 42", "Error 42."},
      {"Done.", "Done."},
      {"Stop!", "Stop!"},
      {"(see above)", "(see above)"},
      {"a,", "a,"},
      {"a-", "a-"},
      {"a/", "a/."},
      {"a\r\n", "a\r\n"},
      {"caf\xE9", "caf\xE9."},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ErrorBoxText(c.message), c.text) << c.message;
}

TEST_F(Forms, ErrorBoxBelongsToTheApplication) {
  TApplication application;
  application.SetTitle("Some Title");
  application.ShowException("Broken");
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "Broken.");
  EXPECT_EQ(shown_[0].caption, "Some Title");
  EXPECT_EQ(shown_[0].type, plat::kMbOk | plat::kMbIconError);
  // No window of the test is active, so the owner is the application
  // window's last active pop-up: the window itself.
  EXPECT_EQ(shown_[0].owner, application.Handle());
}

}  // namespace
