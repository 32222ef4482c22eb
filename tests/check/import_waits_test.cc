// The importer commits what the registry store holds back wherever it may
// wait: before a message and before each read of its file, so that other
// programs see every key it has finished while it waits.
#include <gtest/gtest.h>

#include <string>

#include "common/exceptions.h"
#include "import/imp_exp_reg.h"
#include "platform/ui.h"
#include "regstore/store.h"
#include "regstore/write_groups.h"
#include "testing/posix/program_runner.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

class ImportWaitsTest : public ::testing::Test {
 protected:
  // Groups then commit only where something commits them.
  void SetUp() override {
    regstore::Store::Instance().SetGroupLimits(std::chrono::hours(1), 1000000);
  }
  void TearDown() override {
    plat::SetMessageRecorder(nullptr);
    regstore::Store::Instance().SetGroupLimits(regstore::kGroupAge, regstore::kGroupKeys);
  }

  // The values another program sees in the key `path` below HKEY_CURRENT_USER
  // of the store `store`.
  static std::size_t ValuesSeen(const std::string& store, const std::string& path) {
    testing_support::StoreContent content;
    std::string error;
    EXPECT_TRUE(testing_support::ReadStoreContent(store, &content, &error)) << error;
    auto key = content.find("HKEY_CURRENT_USER\\" + path);
    return key == content.end() ? 0 : key->second.size();
  }
};

TEST_F(ImportWaitsTest, AMessageWaitsUntilTheKeysBeforeItAreCommitted) {
  struct Case {
    const char* contents;
    bool raises;
  } cases[] = {
      {"[Software\\BrevlinTest]\nstring\tA\tx\ninteger\tB\t1\n<[Other]>\n", false},
      {"[Software\\BrevlinTest]\nstring\tA\tx\ninteger\tB\t1\n<HKEY_USERS>\nstring\tC\tx\n", true},
  };
  for (const Case& c : cases) {
    testing_support::ScopedTestRegistry fresh;
    std::size_t seen = 0;
    plat::SetMessageRecorder([&](const plat::ShownMessage&) {
      seen = ValuesSeen(fresh.StorePath(), "Software\\BrevlinTest");
    });
    const std::string file = testing_support::WriteTempFile(c.contents);
    bool raised = false;
    try {
      ImportConfigFile(plat::kHkeyCurrentUser, file, "Brevlin", false, ImportScope::kBoth);
    } catch (const ERegistryException&) {
      // The application's error box tells of it; what was written is in
      // the store before it does.
      raised = true;
      seen = ValuesSeen(fresh.StorePath(), "Software\\BrevlinTest");
    }
    EXPECT_EQ(raised, c.raises) << c.contents;
    EXPECT_EQ(seen, 2u) << c.contents;
  }
}

}  // namespace
