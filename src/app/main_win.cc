#include "app/main_win.h"

#include <utility>

#include "common/globals.h"
#include "common/run_outcome.h"
#include "platform/paths.h"
#include "platform/window.h"

namespace {

// Keeps the application window marked as a tool window while it lives, and
// writes the saved extended style back at the end, whatever bits were set in
// between.
class ToolWindowStyle {
 public:
  explicit ToolWindowStyle(plat::Window window)
      : window_(window), saved_(plat::GetWindowLongA(window, plat::kGwlExStyle)) {
    plat::SetWindowLongA(window_, plat::kGwlExStyle,
                         saved_ | static_cast<std::int32_t>(plat::kWsExToolWindow));
  }
  ~ToolWindowStyle() { plat::SetWindowLongA(window_, plat::kGwlExStyle, saved_); }
  ToolWindowStyle(const ToolWindowStyle&) = delete;
  ToolWindowStyle& operator=(const ToolWindowStyle&) = delete;

 private:
  plat::Window window_;
  std::int32_t saved_;
};

bool IsFileAttributes(std::uint32_t attributes) {
  return (attributes & (plat::kFileAttributeDirectory | plat::kFileAttributeDevice)) == 0;
}

}  // namespace

TMainWin::TMainWin(TApplication& application, const TCommandLine& command_line,
                   ImportFunction import)
    : TForm(application, "TMainWin"), command_line_(command_line), import_(std::move(import)) {
  OnCreate = [this](TObject* sender) { FormCreate(sender); };
}

void TMainWin::FormCreate(TObject*) {
  config_file_name_.clear();
  install_path_.clear();
  const int count = command_line_.ParamCount();
  for (int i = 1; i <= count; ++i) {
    ParseArgument(command_line_, command_line_.ParamStr(i), &config_file_name_, &install_path_);
  }
  if (!config_file_name_.empty()) {
    config_file_name_ = ResolveConfigFileName(config_file_name_, install_path_);
    ImportIfPresent(config_file_name_);
  }
  plat::PostQuitMessage(0);
}

void TMainWin::ImportIfPresent(const std::string& file_name) {
  if (!IsExistingFile(file_name)) {
    TheRunOutcome().Note(RunEvent::kFileMissing);
    return;
  }
  import_(kImportRoot, file_name, kExpectedProduct, kShowErrors, kImportScope);
}

bool IsExistingFile(const std::string& name) {
  std::uint32_t attributes = 0;
  plat::Status status = plat::GetFileAttributesA(name, &attributes);
  if (status == plat::kErrorSuccess)
    return IsFileAttributes(attributes);
  if (status == plat::kErrorFileNotFound || status == plat::kErrorPathNotFound ||
      status == plat::kErrorInvalidName) {
    return false;
  }
  // Attributes that cannot be read (a file locked by another process, say):
  // the folder's listing decides.
  return plat::FindFirstFileA(name, &attributes) == plat::kErrorSuccess &&
         IsFileAttributes(attributes);
}

void RunApplication(TApplication& application, const TCommandLine& command_line,
                    ImportFunction import) {
  application.SetShowMainForm(false);
  application.SetTitle(kApplicationTitle);
  ToolWindowStyle tool_window(application.Handle());
  application.CreateForm<TMainWin>(command_line, std::move(import));
  application.Run();
}
