// The program entry of Register Brevlin on Linux: the options of a Linux
// command (--help, --version, --check) in front of the Windows command line,
// and an exit status that tells what the run came to.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/forms.h"
#include "app/main_win.h"
#include "app/program_options.h"
#include "common/globals.h"
#include "common/run_outcome.h"
#include "import/config_check.h"
#include "platform/posix/argv_command_line.h"
#include "platform/posix/linux_file_names.h"
#include "platform/posix/registry_health.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/ui.h"

namespace {

const char kProgram[] = "register-brevlin";

void Print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// Why the program found no configuration file at `file_name`.
std::string NoFileReason(const std::string& file_name) {
  struct stat st;
  if (::stat(plat::posix::ToPosixPath(file_name).c_str(), &st) != 0)
    return std::strerror(errno);
  if (S_ISDIR(st.st_mode))
    return "a folder, not a file";
  return "not a regular file";
}

int UsageError(const std::string& error) {
  Print(stderr, std::string(kProgram) + ": " + error + "\n" + UsageText(kProgram) + "Try '" +
                    kProgram + " --help' for more information.\n");
  return kExitUsage;
}

// The import, as the Windows program runs it.
void Import(const TCommandLine& command_line) {
  try {
    TApplication application;
    RunApplication(application, command_line);
  } catch (...) {
    // The application's own failures were shown in its error box already.
    TheRunOutcome().Note(RunEvent::kInternalError);
  }
  switch (plat::posix::RegistryStoreTrouble()) {
    case plat::posix::StoreTrouble::kNone:
      break;
    case plat::posix::StoreTrouble::kBusy:
      TheRunOutcome().Note(RunEvent::kStoreBusy);
      break;
    case plat::posix::StoreTrouble::kUnavailable:
      TheRunOutcome().Note(RunEvent::kStoreUnavailable);
      break;
  }
}

int Run(int argc, char** argv) {
  std::vector<std::string> argv_list;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != nullptr)
      argv_list.emplace_back(argv[i]);
  }
  ProgramOptions options = ParseProgramOptions(argv_list);
  switch (options.mode) {
    case ProgramMode::kHelp:
      Print(stdout, HelpText(kProgram));
      return kExitSuccess;
    case ProgramMode::kVersion:
      Print(stdout, VersionText(kProgram));
      return kExitSuccess;
    case ProgramMode::kUsageError:
      return UsageError(options.error);
    case ProgramMode::kImport:
    case ProgramMode::kCheck:
      break;
  }

  TCommandLine command_line(plat::posix::BuildCommandLine(options.arguments));
  std::string error = ConfigOptionsError(command_line);
  if (!error.empty())
    return UsageError(error);
  FixLocaleNumberChars();
  RunOutcome& outcome = TheRunOutcome();
  const std::string file_name = ReadConfigOptions(command_line).config_file_name;

  if (options.mode == ProgramMode::kCheck) {
    if (!IsExistingFile(file_name)) {
      outcome.Note(RunEvent::kFileMissing);
    } else {
      CheckConfigFile(kImportRoot, file_name, kExpectedProduct, kImportScope, outcome, std::cout);
      std::cout.flush();
    }
  } else {
    Import(command_line);
    // The exit status answers for the changes: they reach the disk first.
    // Other programs may hold the store open, and then this one is not the
    // last to close it, whose close would sync it.
    if (plat::FlushWritesToDisk() != plat::kErrorSuccess)
      outcome.Note(RunEvent::kStoreUnavailable);
  }
  // The Windows program says nothing of a file that is not there; a Linux
  // command does.
  if (outcome.Has(RunEvent::kFileMissing)) {
    Print(stderr, std::string(kProgram) + ": " + plat::MessageFileName(file_name) + ": " +
                      NoFileReason(file_name) + "\n");
  }
  return ExitStatusOf(outcome);
}

}  // namespace

int main(int argc, char** argv) {
  int status = kExitFailure;
  try {
    status = Run(argc, argv);
  } catch (...) {
    // Nothing is left to show it to.
  }
  plat::ExitProcess(static_cast<std::uint32_t>(status));
}
