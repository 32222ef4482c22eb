// The program entry of Register Brevlin.
#include "app/command_line.h"
#include "app/forms.h"
#include "app/main_win.h"
#include "common/globals.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  try {
    TCommandLine command_line(plat::GetCommandLineA(argc, argv));
    FixLocaleNumberChars();
    TApplication application;
    RunApplication(application, command_line);
  } catch (...) {
    // Nothing is left to show it to: the application's own failures were
    // shown in its error box already. The exit code stays 0 all the same.
  }
  plat::ExitProcess(0);
}
