// What a configuration file can reach: the keys and values of the registry
// store, and nothing else. Key paths and value names that look like file
// names, shell commands, format strings or SQL stay names of keys and
// values; the program opens the configuration file only to read it and
// writes nothing but the store.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/registry.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::RunProgram;
using testing_support::StoreContent;

// Every file below `folder`, by its path relative to it.
std::set<std::string> FilesBelow(const std::string& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory())
      files.insert(fs::relative(entry.path(), folder).string());
  }
  return files;
}

using ProgramReach = testing_support::ProgramTest;

TEST_F(ProgramReach, ConfigurationFilesNameOnlyKeysAndValues) {
  const std::string base = dir_;
  const std::string work = base + "/a/b/c";
  const std::string home = base + "/home";
  fs::create_directories(work);
  fs::create_directories(home);
  const std::string outside = base + "/escaped";
  ASSERT_FALSE(fs::exists("/tmp/brevlin-evil"));

  const std::string config = base + "/evil.cfg";
  {
    std::ofstream out(config, std::ios::binary);
    out << "<[Brevlin]>\n"
           "[..\\..\\..\\escaped]\n"
           "string\t..\\..\\..\\escaped\t/etc/passwd\n"
           "[/tmp/brevlin-evil]\n"
           "string\t%s%n%x\tformat\n"
           "[Software\\Mardovan\\$(touch pwned)`touch pwned`]\n"
           "string\t'; DROP TABLE vals; --\t\"); DELETE FROM keys; --\n"
           "<HKEY_LOCAL_MACHINE>\n"
           "[C:\\Windows\\System32\\drivers\\etc\\hosts]\n"
           "binary\tdata\t00,01,\n";
  }
  ProgramOptions options;
  options.arguments = {"/IC", config};
  options.folder = work;
  // The store where it goes by default: below the home folder.
  options.environment = {"REGSTORE", "XDG_DATA_HOME", "HOME=" + home};
  ProgramRun run = RunProgram(program_, options);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.error_output, "");

  // Nothing was written but the store.
  const std::string store_folder = ".local/share/regstore";
  EXPECT_EQ(FilesBelow(base),
            (std::set<std::string>{"evil.cfg", "home/" + store_folder + "/registry.db"}));
  EXPECT_TRUE(fs::is_empty(work));
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::exists("/tmp/brevlin-evil"));
  struct stat st;
  ASSERT_EQ(::stat((home + "/" + store_folder).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Every name arrived as the name of a key or value.
  StoreContent content = Content(home + "/" + store_folder + "/registry.db");
  const std::string hkcu = "HKEY_CURRENT_USER\\";
  EXPECT_EQ(content[hkcu + "..\\..\\..\\escaped"].count("..\\..\\..\\escaped"), 1u);
  EXPECT_EQ(content[hkcu + "/tmp/brevlin-evil"].count("%s%n%x"), 1u);
  const auto& sql = content[hkcu + "Software\\Mardovan\\$(touch pwned)`touch pwned`"];
  ASSERT_EQ(sql.count("'; DROP TABLE vals; --"), 1u);
  const std::string text = "\"); DELETE FROM keys; --";
  EXPECT_EQ(sql.at("'; DROP TABLE vals; --").data,
            std::vector<std::uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
  EXPECT_EQ(content["HKEY_LOCAL_MACHINE\\C:\\Windows\\System32\\drivers\\etc\\hosts"].count("data"),
            1u);
}

}  // namespace
