#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "testing/backslashes.h"

namespace {

using Args = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::string raw;
  std::string program;
  Args arguments;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << c.name;
}

class CommandLineSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CommandLineSplitting, SplitsLikeTheSystem) {
  const SplitCase& c = GetParam();
  TCommandLine line(c.raw);
  EXPECT_EQ(line.ParamStr(0), c.program);
  Args arguments;
  for (int i = 1; i <= line.ParamCount(); ++i)
    arguments.push_back(line.ParamStr(i));
  EXPECT_EQ(arguments, c.arguments);
  EXPECT_EQ(line.ParamStr(line.ParamCount() + 1), "");
  EXPECT_EQ(line.ParamStr(-1), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineSplitting,
    ::testing::Values(
        SplitCase{"program alone", "prog.exe", "prog.exe", {}}, SplitCase{"empty line", "", "", {}},
        SplitCase{"quoted program path",
                  R"("C:\Program Files\B\prog.exe" /IC a.cfg)",
                  R"(C:\Program Files\B\prog.exe)",
                  {"/IC", "a.cfg"}},
        SplitCase{"every control byte separates",
                  "  prog \t/a\x01"
                  "b\r\n c ",
                  "prog",
                  {"/a", "b", "c"}},
        SplitCase{"quote pairs between arguments are skipped",
                  R"(prog "" /a """" b "")",
                  "prog",
                  {"/a", "b"}},
        SplitCase{"quotes keep spaces and are dropped",
                  R"(prog a"b c"d "e f")",
                  "prog",
                  {"ab cd", "e f"}},
        SplitCase{"a quote pair inside an argument", R"(prog a""b)", "prog", {"ab"}},
        SplitCase{"an open quote runs to the end", R"(prog x "a b  )", "prog", {"x", "a b  "}},
        SplitCase{"a lone quote at the end is no argument", R"(prog a ")", "prog", {"a"}},
        SplitCase{"three quotes open a section", R"(prog """a b" c)", "prog", {"a b", "c"}},
        SplitCase{"no escape character", R"(prog a\"b c\")", "prog", {R"(a\b c\)"}},
        SplitCase{"the line ends at a NUL", std::string("prog a\0b", 8), "prog", {"a"}}));

struct OptionCase {
  const char* name;
  std::string raw;
  std::string ic;
  std::string ip;
};

void PrintTo(const OptionCase& c, std::ostream* os) {
  *os << c.name;
}

class CommandLineOptions : public ::testing::TestWithParam<OptionCase> {};

// Parses every argument in order, as the main form does.
std::pair<std::string, std::string> ParseAll(const TCommandLine& line) {
  std::string config_file_name;
  std::string install_path;
  for (int i = 1; i <= line.ParamCount(); ++i) {
    ParseArgument(line, line.ParamStr(i), &config_file_name, &install_path);
  }
  return {config_file_name, install_path};
}

TEST_P(CommandLineOptions, TakesValuesFromTheRawLine) {
  const OptionCase& c = GetParam();
  TCommandLine line(c.raw);
  auto values = ParseAll(line);
  EXPECT_EQ(values.first, c.ic);
  EXPECT_EQ(values.second, c.ip);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineOptions,
    ::testing::Values(
        OptionCase{"no arguments", "prog", "", ""},
        OptionCase{"both options", R"(prog /IC a.cfg /IP C:\B\)", "a.cfg", R"(C:\B\)"},
        OptionCase{"any letter case, value case kept", R"(prog /iC My.CFG /ip d:\X\)", "My.CFG",
                   R"(d:\X\)"},
        OptionCase{"value written directly behind", R"(prog /ICa.cfg /IPd:\)", "a.cfg", R"(d:\)"},
        OptionCase{"unquoted value with spaces, trimmed", "prog /IC   My Config.cfg  \t",
                   "My Config.cfg", ""},
        OptionCase{"quotes kept in the value", R"(prog /IC "a b.cfg" /IP "C:\P Q\")",
                   R"("a b.cfg")", R"("C:\P Q\")"},
        OptionCase{"value ends at a slash", "prog /IC C:/dir/a.cfg", "C:", ""},
        OptionCase{"one argument holding both options", R"(prog /ICa.cfg/IPd:\)", "a.cfg", ""},
        OptionCase{"first occurrence wins", "prog /IC first.cfg /IC second.cfg", "first.cfg", ""},
        OptionCase{"longer switch counts as the option", "prog /ICX y.cfg", "X y.cfg", ""},
        OptionCase{"option last, nothing after", "prog /IP x\\ /IC", "", "x\\"},
        OptionCase{"other and short arguments ignored", "prog /I /X a IC b /S", "", ""},
        // The option's letters are split by quotes: the argument matches, but
        // the raw line holds no "/IC", so there is no value.
        OptionCase{"quotes split the option", R"(prog /I"C" a.cfg)", "", ""},
        // The program's own path is never searched.
        OptionCase{"option text in the program path", "C:/Tools/ICU/prog.exe /IC a.cfg", "a.cfg",
                   ""},
        OptionCase{"option text in the quoted program path", R"("C:/Tools/ICU/prog.exe" /ic a.cfg)",
                   "a.cfg", ""},
        OptionCase{"option text only in the program path", "C:/Apps/IPX/prog.exe /IP", "", ""}));

struct UnquoteCase {
  std::string value;
  std::string unquoted;
};

TEST(Unquote, RemovesTheQuotesOfAQuotedValue) {
  const UnquoteCase cases[] = {
      {R"("a b.cfg")", "a b.cfg"},
      {R"("a""b")", R"(a"b)"},
      {R"("a"rest)", "a"},
      {R"("")", ""},
      {R"(")", ""},
      {"plain", "plain"},
      {R"(a"b")", R"(a"b")"},
      {"", ""},
      // Without a closing quote everything after the opening one is kept.
      {R"("C:\Conf\a.cfg)", R"(C:\Conf\a.cfg)"},
      {R"("a"")", R"(a")"},
  };
  for (const UnquoteCase& c : cases)
    EXPECT_EQ(Unquote(c.value), c.unquoted) << c.value;
}

// The current folder in the form the platform answers: with "\" separators.
std::string CurrentFolder() {
  std::string folder = std::filesystem::current_path().string();
  for (char& ch : folder) {
    if (ch == '/')
      ch = '\\';
  }
  if (folder.back() != '\\')
    folder += '\\';
  return folder;
}

struct ResolveCase {
  const char* name;
  std::string config_file_name;
  std::string install_path;
  std::string resolved;  // a leading "*" stands for the current folder with its "\"
};

void PrintTo(const ResolveCase& c, std::ostream* os) {
  *os << c.name;
}

class ResolvingTheFileName : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolvingTheFileName, PutsTheInstallFolderInFront) {
  const ResolveCase& c = GetParam();
  std::string expected = c.resolved;
  if (!expected.empty() && expected[0] == '*')
    expected = CurrentFolder() + expected.substr(1);
  EXPECT_EQ(ResolveConfigFileName(c.config_file_name, c.install_path), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolvingTheFileName,
    ::testing::Values(
        ResolveCase{"no install path", "a.cfg", "", "a.cfg"},
        ResolveCase{"quoted name, no install path", R"("a b.cfg" tail)", "", "a b.cfg"},
        ResolveCase{"name with a folder", R"(sub\a.cfg)", R"(inst\)", R"(sub\a.cfg)"},
        ResolveCase{"drive-relative name", "C:a.cfg", R"(inst\)", "C:a.cfg"},
        ResolveCase{"install folder with a trailing separator", "a.cfg", R"(inst\)",
                    R"(*inst\a.cfg)"},
        ResolveCase{"install path naming a file", "a.cfg", R"(inst\setup.exe)", R"(*inst\a.cfg)"},
        ResolveCase{"install folder without a trailing separator", "a.cfg", R"(inst\sub)",
                    R"(*inst\a.cfg)"},
        ResolveCase{"dots resolved", "a.cfg", R"(inst\.\x\..\y\)", R"(*inst\y\a.cfg)"},
        ResolveCase{"quoted name", R"("a b.cfg")", R"(inst\)", R"(*inst\a b.cfg)"},
        ResolveCase{"quoted install path", "a.cfg", R"("my inst\")", R"(*my inst\a.cfg)"},
        ResolveCase{"quoted install path without its closing quote", "a.cfg", R"("my inst\)",
                    R"(*my inst\a.cfg)"},
        ResolveCase{"empty name gives the folder alone", R"("")", R"(inst\)", R"(*inst\)"},
        ResolveCase{"install path of empty quotes", "a.cfg", R"("")", "a.cfg"}));

TEST(ResolvingTheFileName, ExpandsInstallPathsOfAnyLength) {
  std::string deep;
  while (deep.size() < 1000)
    deep += "abcdefghijklmnopqrstuvwxyz\\";
  EXPECT_EQ(ResolveConfigFileName("a.cfg", deep), CurrentFolder() + deep + "a.cfg");
  EXPECT_EQ(ResolveConfigFileName("a.cfg", deep + "x\\..\\y"), CurrentFolder() + deep + "a.cfg");
}

}  // namespace
