#include "platform/posix/argv_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

using Args = std::vector<std::string>;

struct BuildCase {
  Args argv;
  std::string line;
};

TEST(BuildCommandLine, WritesArgumentsAsWindowsPassesThem) {
  const BuildCase cases[] = {
      {{"register-brevlin"}, "register-brevlin"},
      {{"./build/register-brevlin", "/IC", "examples/brevlin.cfg"},
       R"(.\build\register-brevlin /IC examples\brevlin.cfg)"},
      // The option's own slash stays; the path behind it is converted.
      {{"p", "/IC/opt/x.cfg", "/ic/opt/y.cfg", "/Ip/opt/b/"},
       R"(p /IC\opt\x.cfg /ic\opt\y.cfg /Ip\opt\b\)"},
      {{"p", "/IP", "/opt/brevlin/"}, R"(p /IP \opt\brevlin\)"},
      // Switches, and one-level paths that look like them, stay as they are.
      {{"p", "/S", "/quiet", "/tmp", "/IC"}, "p /S /quiet /tmp /IC"},
      {{"p", "/tmp/", "a/b", "rel/"}, R"(p \tmp\ a\b rel\)"},
      {{"p", "C:\\B\\a.cfg"}, R"(p C:\B\a.cfg)"},
      // Arguments that would split or vanish are quoted.
      {{"p", "my file.cfg", "", "a\tb", "a\nb"}, "p \"my file.cfg\" \"\" \"a\tb\" \"a\nb\""},
      {{"/usr/local/bin/register-brevlin", "/IC", "/srv/dir with space/x.cfg"},
       R"(\usr\local\bin\register-brevlin /IC "\srv\dir with space\x.cfg")"},
  };
  for (const BuildCase& c : cases) {
    EXPECT_EQ(plat::posix::BuildCommandLine(c.argv), c.line) << c.line;
  }
}

// From argv to the resolved file name, as the program sees it.
TEST(BuildCommandLine, GivesTheOptionsTheirPaths) {
  struct Case {
    Args argv;
    std::string resolved;
  } cases[] = {
      {{"p", "/IC", "examples/brevlin.cfg"}, R"(examples\brevlin.cfg)"},
      {{"p", "/IC/opt/x.cfg"}, R"(\opt\x.cfg)"},
      {{"p", "/IC", "brevlin.cfg", "/IP", "/opt/brevlin/"}, R"(\opt\brevlin\brevlin.cfg)"},
      {{"p", "/ip", "/opt/brevlin/setup", "/ic", "b.cfg"}, R"(\opt\brevlin\b.cfg)"},
      {{"p", "/IC", "/srv/dir with space/x.cfg"}, R"(\srv\dir with space\x.cfg)"},
      {{"p", "/IC", "name with space.cfg", "/IP", "/srv/my dir/"},
       R"(\srv\my dir\name with space.cfg)"},
  };
  for (const Case& c : cases) {
    TCommandLine line(plat::posix::BuildCommandLine(c.argv));
    std::string config_file_name;
    std::string install_path;
    for (int i = 1; i <= line.ParamCount(); ++i) {
      ParseArgument(line, line.ParamStr(i), &config_file_name, &install_path);
    }
    EXPECT_EQ(ResolveConfigFileName(config_file_name, install_path), c.resolved) << line.Raw();
  }
}

}  // namespace
