// Module Main: the program's one form, TMainWin, whose creation does all of
// the program's work, and the entry sequence that runs it.
#ifndef BREVLIN_APP_MAIN_WIN_H_
#define BREVLIN_APP_MAIN_WIN_H_

#include <cstdint>
#include <functional>
#include <string>

#include "app/command_line.h"
#include "app/forms.h"
#include "import/imp_exp_reg.h"
#include "platform/registry.h"

// What the program hands to every import: the root key to start below, the
// product the file must belong to, no stop at a refused key, and both
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE allowed.
constexpr plat::RegKey kImportRoot = plat::kHkeyCurrentUser;
constexpr char kExpectedProduct[] = "Brevlin";
constexpr bool kShowErrors = false;
constexpr ImportScope kImportScope = ImportScope::kBoth;

// The import of one configuration file, with the parameters of
// ImportConfigFile.
using ImportFunction = std::function<bool(plat::RegKey root, const std::string& file_name,
                                          const std::string& expected_product, bool show_errors,
                                          ImportScope import_scope)>;

// The hidden form. Its creation handler reads the options from the command
// line, resolves the configuration file name, imports the file when it
// exists, and asks the application to end.
class TMainWin : public TForm {
 public:
  TMainWin(TApplication& application, const TCommandLine& command_line,
           ImportFunction import = ImportConfigFile);

  // The value of /IC, after FormCreate the resolved name of the
  // configuration file; the value of /IP.
  const std::string& ConfigFileName() const { return config_file_name_; }
  const std::string& InstallPath() const { return install_path_; }

  // The creation handler (OnCreate).
  void FormCreate(TObject* sender);

  // Imports the file when `file_name` is that of an existing file; otherwise
  // does nothing.
  void ImportIfPresent(const std::string& file_name);

 private:
  const TCommandLine& command_line_;
  ImportFunction import_;
  std::string config_file_name_;
  std::string install_path_;
};

// Whether `name` is that of an existing file: not a folder and, elsewhere
// than on Windows, not a FIFO, a socket or a device either. A file that
// another process holds open without sharing counts as existing.
bool IsExistingFile(const std::string& name);

// The entry sequence once the application object exists: keeps the main form
// hidden, sets the title, marks the application window as a tool window for
// the run, creates TMainWin (whose creation does the work), runs the message
// loop until the form's quit request ends it, and gives the application
// window its extended style back.
void RunApplication(TApplication& application, const TCommandLine& command_line,
                    ImportFunction import = ImportConfigFile);

#endif  // BREVLIN_APP_MAIN_WIN_H_
