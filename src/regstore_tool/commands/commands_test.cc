#include "regstore_tool/commands/commands.h"

#include <gtest/gtest.h>

namespace regstore_tool {
namespace {

int RunNothing(CommandContext&, const CommandLine&) {
  return kSuccess;
}

TEST(CommandHelpTest, OperandsAndOptionsStandInOneColumn) {
  const CommandSpec command = {
      "demo",
      StoreUse::kNone,
      "a demonstration",
      "demo KEY [FILE] [/v NAME] [/f]",
      "Does nothing.\n",
      {{"FILE", nullptr, "where"}},
      {{"v", "NAME", "first line\nsecond line"}, {"f", nullptr, "force"}},
      "The end.\n",
      RunNothing,
  };
  EXPECT_EQ(HelpText(command),
            "Usage: regstore demo KEY [FILE] [/v NAME] [/f]\n"
            "\n"
            "Does nothing.\n"
            "  FILE      where\n"
            "  /v NAME   first line\n"
            "            second line\n"
            "  /f        force\n"
            "The end.\n");
  const std::vector<OptionRule> rules = OptionRules(command);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_TRUE(rules[0].takes_value);
  EXPECT_FALSE(rules[1].takes_value);
}

TEST(CommandHelpTest, BareUsageHasNoBlankLine) {
  const CommandSpec command = {"x", StoreUse::kNone, "x", "x KEY", "", {}, {}, "", RunNothing};
  EXPECT_EQ(HelpText(command), "Usage: regstore x KEY\n");
}

// Every command is found by its name, once, and shows its usage.
TEST(CommandHelpTest, TableNamesEachCommandOnce) {
  for (const CommandSpec* command : AllCommands()) {
    EXPECT_EQ(FindCommand(command->name), command) << command->name;
    EXPECT_EQ(HelpText(*command).find(std::string("Usage: regstore ") + command->name), 0u);
  }
  EXPECT_EQ(FindCommand("nosuch"), nullptr);
}

}  // namespace
}  // namespace regstore_tool
