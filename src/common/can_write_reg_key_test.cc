#include <gtest/gtest.h>

#include <string>

#include "common/globals.h"
#include "testing/registry_fixture.h"

namespace {

using testing_support::KeyExists;
using testing_support::ReadValue;
using testing_support::SubkeyNames;
using testing_support::ValueNames;

const plat::RegKey kHkcu = plat::kHkeyCurrentUser;
const std::string kBase = "Software\\BrevlinTest";

// Creates a key with one value through the platform.
void MakeKey(const std::string& path) {
  testing_support::ScopedRegKey key;
  ASSERT_EQ(key.Create(kHkcu, path), plat::kErrorSuccess);
  const std::uint8_t one[] = {1, 0, 0, 0};
  EXPECT_EQ(plat::RegSetValueExA(key.get(), "Existing", 0, plat::kRegDword, one, 4),
            plat::kErrorSuccess);
}

class CanWriteRegKeyTest : public ::testing::Test {
 protected:
  testing_support::ScopedTestRegistry registry_;
};

TEST_F(CanWriteRegKeyTest, WritableKeyIsLeftAsItWas) {
  MakeKey(kBase + "\\Writable");
  EXPECT_TRUE(CanWriteRegKey(kBase + "\\Writable", kHkcu));
  EXPECT_EQ(ValueNames(kHkcu, kBase + "\\Writable"), std::vector<std::string>{"Existing"});
  EXPECT_TRUE(SubkeyNames(kHkcu, kBase + "\\Writable").empty());
}

TEST_F(CanWriteRegKeyTest, MissingKeyIsCreatedEmptyWithItsParents) {
  EXPECT_TRUE(CanWriteRegKey(kBase + "\\New\\Deeper", kHkcu));
  EXPECT_TRUE(KeyExists(kHkcu, kBase + "\\New\\Deeper"));
  EXPECT_TRUE(ValueNames(kHkcu, kBase + "\\New\\Deeper").empty());
  EXPECT_TRUE(ValueNames(kHkcu, kBase + "\\New").empty());
  EXPECT_TRUE(SubkeyNames(kHkcu, kBase + "\\New\\Deeper").empty());
  // Probing again finds the key and leaves it as it is.
  EXPECT_TRUE(CanWriteRegKey(kBase + "\\New\\Deeper", kHkcu));
  EXPECT_TRUE(ValueNames(kHkcu, kBase + "\\New\\Deeper").empty());
}

// Only the protected key itself is probed here: Windows also refuses to create
// a missing key below it, but Wine lets that create through (it does not
// check the parent key's access list), so that case is tested on the store
// alone.
TEST_F(CanWriteRegKeyTest, ProtectedKeyIsRefused) {
  MakeKey(kBase + "\\Protected");
  ASSERT_TRUE(testing_support::ProtectKey(kHkcu, kBase + "\\Protected"));
  EXPECT_FALSE(CanWriteRegKey(kBase + "\\Protected", kHkcu));
  EXPECT_EQ(ValueNames(kHkcu, kBase + "\\Protected"), std::vector<std::string>{"Existing"});
  EXPECT_TRUE(SubkeyNames(kHkcu, kBase + "\\Protected").empty());
}

TEST_F(CanWriteRegKeyTest, KeyThatRefusesTheValueWriteIsRefused) {
  MakeKey(kBase + "\\Locked");
  if (!testing_support::LockKeyValues(kHkcu, kBase + "\\Locked")) {
    GTEST_SKIP() << "this registry cannot refuse value writes on a key that opens with full access";
  }
  EXPECT_FALSE(CanWriteRegKey(kBase + "\\Locked", kHkcu));
  EXPECT_EQ(ValueNames(kHkcu, kBase + "\\Locked"), std::vector<std::string>{"Existing"});
  EXPECT_TRUE(SubkeyNames(kHkcu, kBase + "\\Locked").empty());
}

TEST_F(CanWriteRegKeyTest, PathGoesToThePlatformUnchanged) {
  MakeKey(kBase);
  // A leading backslash is refused by both the open and the create.
  EXPECT_FALSE(CanWriteRegKey("\\" + kBase, kHkcu));
  EXPECT_FALSE(CanWriteRegKey("\\" + kBase + "\\Other", kHkcu));
  EXPECT_FALSE(KeyExists(kHkcu, kBase + "\\Other"));
  // Names compare without regard to case.
  EXPECT_TRUE(CanWriteRegKey("SOFTWARE\\BREVLINTEST", kHkcu));
  EXPECT_EQ(SubkeyNames(kHkcu, "Software\\BrevlinTest").size(), 0u);
}

TEST_F(CanWriteRegKeyTest, EmptyPathProbesTheRoot) {
  EXPECT_TRUE(CanWriteRegKey("", kHkcu));
  EXPECT_FALSE(ReadValue(kHkcu, "", kProbeValueName).has_value());
}

TEST_F(CanWriteRegKeyTest, ProbeValueNeverStays) {
  MakeKey(kBase + "\\Values");
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(CanWriteRegKey(kBase + "\\Values", kHkcu));
  EXPECT_FALSE(ReadValue(kHkcu, kBase + "\\Values", kProbeValueName).has_value());
  EXPECT_EQ(ReadValue(kHkcu, kBase + "\\Values", "Existing")->data,
            (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

}  // namespace
