#include "app/program_options.h"

#include "brevlin_version.h"
#include "common/run_outcome.h"

ProgramOptions ParseProgramOptions(const std::vector<std::string>& argv) {
  ProgramOptions options;
  if (!argv.empty())
    options.arguments.push_back(argv[0]);
  bool options_ended = false;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& argument = argv[i];
    if (options_ended || argument.size() < 2 || argument[0] != '-') {
      options.arguments.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
    } else if (argument == "--help" || argument == "-h") {
      options.mode = ProgramMode::kHelp;
      return options;
    } else if (argument == "--version" || argument == "-V") {
      options.mode = ProgramMode::kVersion;
      return options;
    } else if (argument == "--check" || argument == "--check=empty") {
      options.mode = ProgramMode::kCheck;
      options.check_against_store = false;
    } else if (argument == "--check=store") {
      options.mode = ProgramMode::kCheck;
      options.check_against_store = true;
    } else {
      options.mode = ProgramMode::kUsageError;
      options.error = "unknown option '" + argument + "'";
      return options;
    }
  }
  return options;
}

ConfigOptions ReadConfigOptions(const TCommandLine& command_line) {
  ConfigOptions options;
  const int count = command_line.ParamCount();
  for (int i = 1; i <= count; ++i) {
    const std::string argument = command_line.ParamStr(i);
    const ConfigOption option = ConfigOptionOf(argument);
    options.has_config_file = options.has_config_file || option == ConfigOption::kConfigFile;
    options.has_install_path = options.has_install_path || option == ConfigOption::kInstallPath;
    ParseArgument(command_line, argument, &options.config_file_name, &options.install_path);
  }
  if (!options.config_file_name.empty()) {
    options.config_file_name =
        ResolveConfigFileName(options.config_file_name, options.install_path);
  }
  return options;
}

std::string ConfigOptionsError(const TCommandLine& command_line) {
  ConfigOptions options = ReadConfigOptions(command_line);
  if (!options.has_config_file)
    return "no configuration file: /IC is missing";
  if (options.config_file_name.empty())
    return "/IC needs a file name";
  if (options.has_install_path && Unquote(options.install_path).empty())
    return "/IP needs a folder";
  return std::string();
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program + " [--check] /IC FILE [/IP FOLDER]\n       " + program +
         " --help | --version\n";
}

namespace {

std::string ExitStatusList() {
  std::string list;
  for (const ExitStatusMeaning& entry : kExitStatusMeanings)
    list += "  " + std::to_string(entry.status) + "  " + entry.meaning + "\n";
  return list;
}

}  // namespace

std::string HelpText(const std::string& program) {
  return UsageText(program) +
         "Load a program configuration file into the registry store.\n"
         "\n"
         "  /IC FILE       the configuration file (a path of one level ends in /: /tmp/)\n"
         "  /IP FOLDER     where FILE is when its name has no folder; a path ending in /\n"
         "                 is that folder, any other its parent folder\n"
         "  --check        import FILE into an empty throwaway store and list what it\n"
         "                 writes and every warning, each with its line; the store\n"
         "                 itself is not touched\n"
         "  --check=store  the same, into a throwaway copy of the store as it is\n"
         "  -h, --help     show this help and exit\n"
         "  -V, --version  show the version and exit\n"
         "\n"
         "The registry store is the file $REGSTORE names, or else\n"
         "$XDG_DATA_HOME/regstore/registry.db (~/.local/share/regstore/registry.db).\n"
         "\n"
         "Exit status:\n" +
         ExitStatusList();
}

std::string VersionText(const std::string& program) {
  return program + " (Register Brevlin) " BREVLIN_VERSION "\n";
}
