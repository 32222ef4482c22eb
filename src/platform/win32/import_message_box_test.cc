// The importer's message boxes as Windows shows them: real modal boxes that
// hold the import until they are closed. Needs a display (Xvfb under Wine).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "import/imp_exp_reg.h"
#include "platform/win32/windows_wrapper.h"
#include "registry/registry_object.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

struct SeenBox {
  bool found = false;
  std::string text;
  HWND owner = nullptr;
  bool import_was_waiting = false;
};

// Waits for this process's message box with `caption`, notes its text and
// owner, checks that the import is still held by it, and presses its OK
// button.
SeenBox CloseBoxWhenShown(const std::string& caption, const std::atomic<bool>& import_returned) {
  SeenBox seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    HWND box = ::FindWindowA("#32770", caption.c_str());
    DWORD pid = 0;
    if (box != nullptr && ::GetWindowThreadProcessId(box, &pid) && pid == ::GetCurrentProcessId()) {
      seen.found = true;
      char text[1024] = {0};
      // A message box shows its text in the static control 0xFFFF.
      ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      seen.text = text;
      seen.owner = ::GetWindow(box, GW_OWNER);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      seen.import_was_waiting = !import_returned.load();
      ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      return seen;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return seen;
}

struct Outcome {
  bool result;
  SeenBox box;
};

Outcome ImportWithBox(const std::string& file_name, bool show_errors, const std::string& caption) {
  std::atomic<bool> returned{false};
  std::future<SeenBox> watcher =
      std::async(std::launch::async, [&] { return CloseBoxWhenShown(caption, returned); });
  bool result = ImportConfigFile(plat::kHkeyCurrentUser, file_name, "Brevlin", show_errors,
                                 ImportScope::kBoth);
  returned = true;
  return Outcome{result, watcher.get()};
}

TEST(ImporterMessageBoxes, FileErrorBoxHoldsTheImportUntilClosed) {
  testing_support::ScopedTestRegistry registry;
  std::string name = testing_support::JoinPath(testing_support::NewTempDir(), "missing.cfg");
  Outcome outcome = ImportWithBox(name, false, "Register Brevlin");
  EXPECT_FALSE(outcome.result);
  ASSERT_TRUE(outcome.box.found);
  EXPECT_TRUE(outcome.box.import_was_waiting);
  EXPECT_EQ(outcome.box.text,
            "Could not import the program configuration due to the following error:\r\n"
            "File not found\r\n\r\nFilename: " +
                name);
}

TEST(ImporterMessageBoxes, WrongProductBoxHasNoOwner) {
  testing_support::ScopedTestRegistry registry;
  Outcome outcome = ImportWithBox(testing_support::WriteTempFile("<[Other]>\n"), false,
                                  "Register Brevlin Import Error");
  EXPECT_FALSE(outcome.result);
  ASSERT_TRUE(outcome.box.found);
  EXPECT_TRUE(outcome.box.import_was_waiting);
  EXPECT_EQ(outcome.box.owner, nullptr);
  EXPECT_EQ(outcome.box.text,
            "This configuration file belongs to Other\r\nand is not compatible with this program.");
}

TEST(ImporterMessageBoxes, RefusedKeyBoxNamesTheRoot) {
  testing_support::ScopedTestRegistry registry;
  {
    TRegistry creator;
    ASSERT_TRUE(creator.OpenPath("Software\\BrevlinTest\\Locked", true));
  }
  ASSERT_TRUE(testing_support::ProtectKey(plat::kHkeyCurrentUser, "Software\\BrevlinTest\\Locked"));
  Outcome outcome =
      ImportWithBox(testing_support::WriteTempFile("[Software\\BrevlinTest\\Locked]\n"), true,
                    "Register Brevlin Registry Error");
  EXPECT_FALSE(outcome.result);
  ASSERT_TRUE(outcome.box.found);
  EXPECT_TRUE(outcome.box.import_was_waiting);
  EXPECT_EQ(outcome.box.owner, nullptr);
  EXPECT_EQ(outcome.box.text,
            "Cannot continue writing because you do not have the right to\r\n"
            "write to the HKEY_CURRENT_USER registry key.");
}

}  // namespace
