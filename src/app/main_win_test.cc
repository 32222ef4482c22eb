#include "app/main_win.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "testing/backslashes.h"
#include "testing/temp_files.h"

namespace {

using testing_support::Backslashes;
using testing_support::NewTempDir;
using testing_support::WriteTempFile;

struct ImportCall {
  plat::RegKey root;
  std::string file_name;
  std::string expected_product;
  bool show_errors;
  unsigned import_scope;
};

bool operator==(const ImportCall& a, const ImportCall& b) {
  return a.root == b.root && a.file_name == b.file_name &&
         a.expected_product == b.expected_product && a.show_errors == b.show_errors &&
         a.import_scope == b.import_scope;
}

void PrintTo(const ImportCall& c, std::ostream* os) {
  *os << "{" << std::hex << c.root << std::dec << ", " << c.file_name << ", " << c.expected_product
      << ", " << c.show_errors << ", " << c.import_scope << "}";
}

// Runs the program's entry sequence on a command line with a stand-in for
// the import, and records what the run did.
class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetMessageRecorder([this](const plat::ShownMessage& m) { shown_.push_back(m); });
  }
  void TearDown() override { plat::SetMessageRecorder(nullptr); }

  // `during_import` runs inside the import, after the call is recorded.
  void Run(const std::string& raw, std::function<void()> during_import = nullptr) {
    TApplication application;
    application_window_ = application.Handle();
    style_before_ = plat::GetWindowLongA(application_window_, plat::kGwlExStyle);
    TCommandLine command_line(raw);
    RunApplication(
        application, command_line,
        [&](plat::RegKey root, const std::string& file_name, const std::string& expected_product,
            bool show_errors, ImportScope import_scope) {
          calls_.push_back({root, file_name, expected_product, show_errors,
                            static_cast<unsigned>(import_scope)});
          style_during_ = plat::GetWindowLongA(application_window_, plat::kGwlExStyle);
          if (during_import)
            during_import();
          return true;
        });
    terminated_ = application.Terminated();
    style_after_ = plat::GetWindowLongA(application_window_, plat::kGwlExStyle);
    main_form_ = static_cast<TMainWin*>(application.MainForm());
    ASSERT_NE(main_form_, nullptr);
    config_file_name_ = main_form_->ConfigFileName();
    install_path_ = main_form_->InstallPath();
    visible_ = plat::IsWindowVisible(application_window_) || main_form_->Visible();
  }

  ImportCall Expected(const std::string& file_name) {
    return {plat::kHkeyCurrentUser, file_name, "Brevlin", false, 2};
  }

  std::vector<ImportCall> calls_;
  std::vector<plat::ShownMessage> shown_;
  plat::Window application_window_ = plat::kNoWindow;
  TMainWin* main_form_ = nullptr;
  std::string config_file_name_;
  std::string install_path_;
  std::int32_t style_before_ = 0;
  std::int32_t style_during_ = 0;
  std::int32_t style_after_ = 0;
  bool terminated_ = false;
  bool visible_ = true;
};

TEST_F(Shell, WithoutArgumentsDoesNothingAndEnds) {
  Run("register-brevlin.exe");
  EXPECT_TRUE(calls_.empty());
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(terminated_);
  EXPECT_FALSE(visible_);
  EXPECT_EQ(style_after_, style_before_);
  EXPECT_EQ(config_file_name_, "");
  EXPECT_EQ(install_path_, "");
}

TEST_F(Shell, ImportsAnExistingFileOnce) {
  std::string file = Backslashes(WriteTempFile("<[Brevlin]>\n", "my config.cfg"));
  Run("prog /IC \"" + file + "\" /S");
  EXPECT_EQ(calls_, std::vector<ImportCall>{Expected(file)});
  EXPECT_TRUE(terminated_);
  EXPECT_FALSE(visible_);
  EXPECT_EQ(config_file_name_, file);
  // The application window is a tool window while the work is done, and has
  // its own style back afterwards.
  EXPECT_EQ(style_during_, style_before_ | static_cast<std::int32_t>(plat::kWsExToolWindow));
  EXPECT_EQ(style_after_, style_before_);
  EXPECT_TRUE(shown_.empty());
}

TEST_F(Shell, ResolvesTheNameAgainstTheInstallPath) {
  std::string file = Backslashes(WriteTempFile("", "brevlin.cfg"));
  std::string folder = file.substr(0, file.rfind('\\') + 1);
  Run("prog /ic brevlin.cfg /IP " + folder + "setup.exe");
  EXPECT_EQ(calls_, std::vector<ImportCall>{Expected(file)});
  EXPECT_EQ(install_path_, folder + "setup.exe");
}

TEST_F(Shell, ImportsNothingWithoutAFile) {
  std::string folder = Backslashes(NewTempDir());
  const std::string lines[] = {
      "prog /IC " + folder,
      "prog /IC " + folder + "\\",
      "prog /IC " + folder + "\\missing.cfg",
      "prog /IC " + folder + "\\missing\\x.cfg",
      "prog /IC \"\" /IP " + folder + "\\",
      "prog /IC",
      "prog /IP " + folder + "\\",
  };
  for (const std::string& line : lines) {
    Run(line);
    EXPECT_TRUE(calls_.empty()) << line;
    EXPECT_TRUE(terminated_) << line;
  }
  EXPECT_TRUE(shown_.empty());
}

TEST_F(Shell, ShowsAnEscapingFailureOnceAndStillEnds) {
  std::string file = Backslashes(WriteTempFile(""));
  struct Case {
    std::function<void()> failure;
    std::string text;
  } cases[] = {
      {[] { throw ERegistryException("Failed to set data for 'Count'"); },
       "Failed to set data for 'Count'"},
      {[] { throw EInOutError(5); }, "File access denied."},
      {[] { throw Exception(""); }, ""},
      {[] { throw std::bad_alloc(); }, "Out of memory."},
  };
  for (const Case& c : cases) {
    shown_.clear();
    Run("prog /IC " + file, c.failure);
    // The run ends although the form's work never got to its quit request.
    EXPECT_TRUE(terminated_) << c.text;
    EXPECT_EQ(calls_.size(), 1u);
    calls_.clear();
    EXPECT_FALSE(visible_);
    EXPECT_EQ(style_after_, style_before_);
    ASSERT_EQ(shown_.size(), 1u) << c.text;
    EXPECT_EQ(shown_[0].text, c.text);
    EXPECT_EQ(shown_[0].caption, "Register Brevlin");
    EXPECT_EQ(shown_[0].type, plat::kMbOk | plat::kMbIconError);
    EXPECT_EQ(shown_[0].owner, application_window_);
  }
}

TEST_F(Shell, GivesTheSavedStyleBackWhateverChangedIt) {
  std::string file = Backslashes(WriteTempFile(""));
  // The style the program found is written back as it was, the tool window
  // bit included; bits set during the run go.
  Run("prog /IC " + file, [this] {
    plat::SetWindowLongA(application_window_, plat::kGwlExStyle, style_during_ | 0x10);
  });
  EXPECT_EQ(style_after_, style_before_);
  EXPECT_EQ(style_before_ & static_cast<std::int32_t>(plat::kWsExToolWindow), 0);
}

TEST(IsExistingFile, TakesFilesButNotFolders) {
  std::string file = WriteTempFile("x");
  std::string folder = NewTempDir();
  EXPECT_TRUE(IsExistingFile(file));
  EXPECT_TRUE(IsExistingFile(Backslashes(file)));
  EXPECT_FALSE(IsExistingFile(folder));
  EXPECT_FALSE(IsExistingFile(Backslashes(folder) + "\\"));
  EXPECT_FALSE(IsExistingFile(Backslashes(folder) + "\\missing.cfg"));
  EXPECT_FALSE(IsExistingFile(Backslashes(folder) + "\\missing\\x.cfg"));
  EXPECT_FALSE(IsExistingFile(""));
}

}  // namespace
