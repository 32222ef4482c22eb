#include "regstore_tool/options.h"

#include <gtest/gtest.h>

namespace regstore_tool {
namespace {

const std::vector<OptionRule> kAddOptions = {{"v", true}, {"ve", false}, {"t", true},
                                             {"d", true}, {"s", true},   {"f", false}};

TEST(ParseCommandLineTest, OptionsInAnyCaseAndPlace) {
  CommandLine line;
  ASSERT_EQ(ParseCommandLine({"ADD", "/V", "Name", "HKCU\\Software\\X", "-t", "REG_DWORD", "/D",
                              "-5", "/f", "--JSON"},
                             1, kAddOptions, &line),
            "");
  EXPECT_EQ(line.operands, std::vector<std::string>({"HKCU\\Software\\X"}));
  EXPECT_EQ(line.Value("v"), "Name");
  EXPECT_EQ(line.Value("t"), "REG_DWORD");
  EXPECT_EQ(line.Value("d"), "-5");  // a value is taken whatever it looks like
  EXPECT_TRUE(line.Has("f"));
  EXPECT_FALSE(line.Has("ve"));
  EXPECT_TRUE(line.json);
}

TEST(ParseCommandLineTest, PathsAndDashesAreOperands) {
  CommandLine line;
  ASSERT_EQ(ParseCommandLine({"/tmp/out.reg", "-", "--", "/f", "-x"}, 0, kAddOptions, &line), "");
  EXPECT_EQ(line.operands, std::vector<std::string>({"/tmp/out.reg", "-", "/f", "-x"}));
  EXPECT_FALSE(line.Has("f"));
}

TEST(ParseCommandLineTest, HelpInEveryForm) {
  for (const char* help : {"/?", "-?", "-h", "--help", "--HELP"}) {
    CommandLine line;
    ASSERT_EQ(ParseCommandLine({help}, 0, kAddOptions, &line), "");
    EXPECT_TRUE(line.help) << help;
  }
}

TEST(ParseCommandLineTest, Problems) {
  struct Case {
    std::vector<std::string> args;
    std::string problem;
  };
  const Case cases[] = {
      {{"/v"}, "the option /v needs a value"},
      {{"/f", "/F"}, "the option /f is given twice"},
      {{"-q"}, "unknown option '-q'"},
  };
  for (const Case& c : cases) {
    CommandLine line;
    EXPECT_EQ(ParseCommandLine(c.args, 0, kAddOptions, &line), c.problem);
  }
}

}  // namespace
}  // namespace regstore_tool
