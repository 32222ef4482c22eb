#include "app/program_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(ParseProgramOptions, TakesTheLinuxOptionsOutOfTheArguments) {
  struct Case {
    Args argv;
    ProgramMode mode;
    Args arguments;  // what is left for the Windows command line
    std::string error;
  };
  const Case cases[] = {
      {{"rb"}, ProgramMode::kImport, {"rb"}, ""},
      {{"rb", "/IC", "a.cfg"}, ProgramMode::kImport, {"rb", "/IC", "a.cfg"}, ""},
      {{"rb", "--help"}, ProgramMode::kHelp, {"rb"}, ""},
      {{"rb", "-h", "/IC", "a.cfg"}, ProgramMode::kHelp, {"rb"}, ""},
      {{"rb", "/IC", "a.cfg", "--version"}, ProgramMode::kVersion, {"rb", "/IC", "a.cfg"}, ""},
      {{"rb", "-V"}, ProgramMode::kVersion, {"rb"}, ""},
      {{"rb", "--check", "/IC", "a.cfg"}, ProgramMode::kCheck, {"rb", "/IC", "a.cfg"}, ""},
      {{"rb", "/IC", "a.cfg", "--check"}, ProgramMode::kCheck, {"rb", "/IC", "a.cfg"}, ""},
      {{"rb", "--chek", "/IC", "a.cfg"},
       ProgramMode::kUsageError,
       {"rb"},
       "unknown option '--chek'"},
      {{"rb", "-x"}, ProgramMode::kUsageError, {"rb"}, "unknown option '-x'"},
      {{"rb", "--help=yes"}, ProgramMode::kUsageError, {"rb"}, "unknown option '--help=yes'"},
      // After "--" everything is an argument, and "-" alone always is.
      {{"rb", "/IC", "--", "-h"}, ProgramMode::kImport, {"rb", "/IC", "-h"}, ""},
      {{"rb", "/IC", "-"}, ProgramMode::kImport, {"rb", "/IC", "-"}, ""},
      // Windows switches and their values pass unchanged.
      {{"rb", "/IP", "/opt/x/", "/S"}, ProgramMode::kImport, {"rb", "/IP", "/opt/x/", "/S"}, ""},
  };
  for (const Case& c : cases) {
    ProgramOptions options = ParseProgramOptions(c.argv);
    std::string line;
    for (const std::string& a : c.argv)
      line += a + " ";
    EXPECT_EQ(options.mode, c.mode) << line;
    EXPECT_EQ(options.arguments, c.arguments) << line;
    EXPECT_EQ(options.error, c.error) << line;
  }
}

TEST(ConfigOptionsError, AsksForAConfigurationFile) {
  struct Case {
    std::string raw;  // the Windows command line
    std::string error;
  };
  const Case cases[] = {
      {"rb /IC a.cfg", ""},
      {"rb /ic a.cfg /ip C:\\x\\", ""},
      {"rb /ICa.cfg", ""},
      {"rb /IC \"my file.cfg\"", ""},
      {"rb", "no configuration file: /IC is missing"},
      {"rb a.cfg", "no configuration file: /IC is missing"},
      {"rb /IP C:\\x\\", "no configuration file: /IC is missing"},
      {"rb /IC", "/IC needs a file name"},
      {"rb /IC /IP C:\\x\\", "/IC needs a file name"},
      {"rb /IC \"\"", "/IC needs a file name"},
      {"rb /IC a.cfg /IP", "/IP needs a folder"},
      {"rb /IC a.cfg /IP \"\"", "/IP needs a folder"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ConfigOptionsError(TCommandLine(c.raw)), c.error) << c.raw;
}

TEST(ReadConfigOptions, ResolvesTheFileAsTheImportDoes) {
  ConfigOptions options = ReadConfigOptions(TCommandLine("rb /IC a.cfg /IP C:\\dir\\setup.exe"));
  EXPECT_TRUE(options.has_config_file);
  EXPECT_TRUE(options.has_install_path);
  const std::string name = options.config_file_name;
  const std::string tail = "dir\\a.cfg";
  ASSERT_GE(name.size(), tail.size()) << name;
  EXPECT_EQ(name.substr(name.size() - tail.size()), tail) << name;
}

TEST(ProgramTexts, NameTheProgramAndTheVersion) {
  EXPECT_EQ(VersionText("rb").rfind("rb (Register Brevlin) ", 0), 0u);
  EXPECT_NE(HelpText("rb").find(UsageText("rb")), std::string::npos);
  // Every exit status is explained in the help.
  for (const char* status : {"  0  ", "  1  ", "  2  ", "  3  ", "  4  ", "  5  ", "  6  "})
    EXPECT_NE(HelpText("rb").find(status), std::string::npos) << status;
}

}  // namespace
