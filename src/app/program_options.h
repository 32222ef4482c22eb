// The options that the Linux program takes in front of the Windows command
// line: --help, --version and --check, and the checks of /IC and /IP that
// let a wrong command line end with a usage error instead of doing nothing.
// The Windows program has none of this: it reads the raw line alone.
#ifndef BREVLIN_APP_PROGRAM_OPTIONS_H_
#define BREVLIN_APP_PROGRAM_OPTIONS_H_

#include <string>
#include <vector>

#include "app/command_line.h"

enum class ProgramMode { kImport, kCheck, kHelp, kVersion, kUsageError };

struct ProgramOptions {
  ProgramMode mode = ProgramMode::kImport;
  // For kCheck: run against a copy of the store as it is ("--check=store")
  // rather than an empty one.
  bool check_against_store = false;
  // The program's own path and every argument that is not one of these
  // options, in their order: the arguments of the Windows command line.
  std::vector<std::string> arguments;
  // What is wrong, for kUsageError.
  std::string error;
};

// Takes the options out of the argument vector (the program's own path
// first). "--help" or "-h" and "--version" or "-V" ask for that and nothing
// else; "--check" asks for the dry run against an empty store, "--check=store"
// for one against the store as it is. Any other argument that begins with
// "-" and a letter or a second "-" is a usage error; "--" ends the options,
// and "-" alone is an argument. Options may stand anywhere on the line.
ProgramOptions ParseProgramOptions(const std::vector<std::string>& argv);

// The configuration file options as the program reads them from its command
// line, and whether each was given at all.
struct ConfigOptions {
  bool has_config_file = false;
  bool has_install_path = false;
  std::string config_file_name;  // resolved, as the import opens it
  std::string install_path;
};
ConfigOptions ReadConfigOptions(const TCommandLine& command_line);

// What is wrong with the options for an import or a check, or the empty
// text when nothing is: no /IC, or /IC or /IP without a value.
std::string ConfigOptionsError(const TCommandLine& command_line);

// The help text, the short usage for a usage error, and the version line, for
// the program called `program`.
std::string HelpText(const std::string& program);
std::string UsageText(const std::string& program);
std::string VersionText(const std::string& program);

#endif  // BREVLIN_APP_PROGRAM_OPTIONS_H_
