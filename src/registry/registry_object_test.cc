#include "registry/registry_object.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "testing/registry_fixture.h"

namespace {

using testing_support::ReadValue;
using testing_support::StoredValue;
using Bytes = std::vector<std::uint8_t>;

const plat::RegKey kHkcu = plat::kHkeyCurrentUser;
const std::string kBase = "Software\\BrevlinTest";

// The message of the ERegistryException that `action` raises, or "" when it
// raises none.
std::string RegistryError(const std::function<void()>& action) {
  try {
    action();
  } catch (const ERegistryException& e) {
    return e.Message();
  }
  return "";
}

class TRegistryTest : public ::testing::Test {
 protected:
  testing_support::ScopedTestRegistry registry_;
  TRegistry reg_;
};

TEST_F(TRegistryTest, StartsAtCurrentUserWithFullAccessAndDeferredFlushing) {
  EXPECT_EQ(reg_.Root(), plat::kHkeyCurrentUser);
  EXPECT_EQ(reg_.AccessMask(), 0xF003Fu);
  EXPECT_TRUE(reg_.DeferFlush());
  EXPECT_EQ(reg_.KeyHandle(), plat::kNullKey);
  EXPECT_EQ(reg_.KeyPath(), "");
}

TEST_F(TRegistryTest, OpensAbsoluteAndRelativePaths) {
  ASSERT_TRUE(reg_.OpenPath(kBase + "\\A", true));
  EXPECT_EQ(reg_.KeyPath(), kBase + "\\A");
  EXPECT_NE(reg_.KeyHandle(), plat::kNullKey);
  EXPECT_TRUE(testing_support::KeyExists(kHkcu, kBase + "\\A"));

  ASSERT_TRUE(reg_.OpenPath("B", true));
  EXPECT_EQ(reg_.KeyPath(), kBase + "\\A\\B");
  EXPECT_TRUE(testing_support::KeyExists(kHkcu, kBase + "\\A\\B"));

  ASSERT_TRUE(reg_.OpenPath("\\" + kBase + "\\C\\D", true));
  EXPECT_EQ(reg_.KeyPath(), kBase + "\\C\\D");
  EXPECT_TRUE(testing_support::KeyExists(kHkcu, kBase + "\\C\\D"));
  EXPECT_FALSE(testing_support::KeyExists(kHkcu, kBase + "\\A\\B\\" + kBase));

  // Opening without create finds existing keys the same ways.
  ASSERT_TRUE(reg_.OpenPath("\\" + kBase + "\\A", false));
  ASSERT_TRUE(reg_.OpenPath("B", false));
  EXPECT_EQ(reg_.KeyPath(), kBase + "\\A\\B");
  reg_.PutDword("Here", 1);
  EXPECT_TRUE(ReadValue(kHkcu, kBase + "\\A\\B", "Here").has_value());
}

TEST_F(TRegistryTest, OnlyTheFirstBackslashIsRemoved) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  const plat::RegKey open_key = reg_.KeyHandle();
  // "\Software\..." reaches the platform, which refuses a leading backslash.
  EXPECT_FALSE(reg_.OpenPath("\\\\" + kBase + "\\X", true));
  EXPECT_FALSE(reg_.OpenPath("\\\\" + kBase, false));
  EXPECT_EQ(reg_.KeyHandle(), open_key);
  EXPECT_EQ(reg_.KeyPath(), kBase);
  EXPECT_FALSE(testing_support::KeyExists(kHkcu, kBase + "\\X"));
}

TEST_F(TRegistryTest, EmptyPathOpensTheBaseKeyAgain) {
  // With no key open, the base is the root.
  ASSERT_TRUE(reg_.OpenPath("", true));
  EXPECT_EQ(reg_.KeyPath(), "");
  EXPECT_NE(reg_.KeyHandle(), plat::kNullKey);
  EXPECT_FALSE(testing_support::KeyExists(kHkcu, kBase));

  ASSERT_TRUE(reg_.OpenPath("\\" + kBase, true));
  ASSERT_TRUE(reg_.OpenPath("", true));
  EXPECT_EQ(reg_.KeyPath(), kBase + "\\");
  reg_.PutText("Same", "key");
  EXPECT_TRUE(ReadValue(kHkcu, kBase, "Same").has_value());
  EXPECT_TRUE(testing_support::SubkeyNames(kHkcu, kBase).empty());
}

TEST_F(TRegistryTest, FailedOpenKeepsTheOpenKey) {
  ASSERT_TRUE(reg_.OpenPath(kBase + "\\Kept", true));
  const plat::RegKey open_key = reg_.KeyHandle();
  EXPECT_FALSE(reg_.OpenPath("Missing", false));
  EXPECT_FALSE(reg_.OpenPath("\\" + kBase + "\\Missing", false));
  EXPECT_EQ(reg_.KeyHandle(), open_key);
  EXPECT_EQ(reg_.KeyPath(), kBase + "\\Kept");
  reg_.PutDword("Still", 7);
  EXPECT_EQ(reg_.GetDword("Still"), 7);
  EXPECT_FALSE(testing_support::KeyExists(kHkcu, kBase + "\\Kept\\Missing"));
}

TEST_F(TRegistryTest, SelectRootClosesOnlyOnAChange) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  const plat::RegKey open_key = reg_.KeyHandle();
  reg_.SelectRoot(plat::kHkeyCurrentUser);
  EXPECT_EQ(reg_.KeyHandle(), open_key);
  EXPECT_EQ(reg_.KeyPath(), kBase);

  reg_.SelectRoot(plat::kHkeyLocalMachine);
  EXPECT_EQ(reg_.Root(), plat::kHkeyLocalMachine);
  EXPECT_EQ(reg_.KeyHandle(), plat::kNullKey);
  EXPECT_EQ(reg_.KeyPath(), "");
  // The closed handle is no longer usable.
  std::uint32_t size = 0;
  EXPECT_EQ(plat::RegQueryValueExA(open_key, "x", nullptr, nullptr, nullptr, &size),
            plat::kErrorInvalidHandle);

  // Paths are now taken below the new root.
  ASSERT_TRUE(reg_.OpenPath("Software\\BrevlinTest", true));
  EXPECT_TRUE(testing_support::KeyExists(plat::kHkeyLocalMachine, kBase));
}

TEST_F(TRegistryTest, WritesStoreTheExactBytes) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  const std::uint8_t block[] = {0x00, 0x01, 0xFE, 0xFF, 0x80};
  reg_.PutText("Empty", "");
  reg_.PutText("Three", "abc");
  reg_.PutText("", "default");
  reg_.PutDword("Minus", -1);
  reg_.PutDword("Big", 0x12345678);
  reg_.PutBytes("Block", block, 5);
  reg_.PutBytes("None", block, 0);

  const struct {
    const char* name;
    StoredValue expected;
  } cases[] = {
      {"Empty", {plat::kRegSz, {0}}},
      {"Three", {plat::kRegSz, {'a', 'b', 'c', 0}}},
      {"", {plat::kRegSz, {'d', 'e', 'f', 'a', 'u', 'l', 't', 0}}},
      {"Minus", {plat::kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}}},
      {"Big", {plat::kRegDword, {0x78, 0x56, 0x34, 0x12}}},
      {"Block", {plat::kRegBinary, {0x00, 0x01, 0xFE, 0xFF, 0x80}}},
      {"None", {plat::kRegBinary, {}}},
  };
  for (const auto& c : cases) {
    std::optional<StoredValue> stored = ReadValue(kHkcu, kBase, c.name);
    ASSERT_TRUE(stored.has_value()) << c.name;
    EXPECT_EQ(stored->type, c.expected.type) << c.name;
    EXPECT_EQ(stored->data, c.expected.data) << c.name;
  }
  EXPECT_EQ(reg_.GetDword("Minus"), -1);
  EXPECT_EQ(reg_.GetDword("Big"), 0x12345678);

  // Writing again replaces type and data.
  reg_.PutText("Minus", "now text");
  EXPECT_EQ(ReadValue(kHkcu, kBase, "Minus")->type, plat::kRegSz);
}

TEST_F(TRegistryTest, NegativeByteCountIsAFailedWrite) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  const std::uint8_t block[] = {1, 2, 3};
  EXPECT_EQ(RegistryError([&] { reg_.PutBytes("Neg", block, -1); }),
            "Failed to set data for 'Neg'");
  EXPECT_EQ(RegistryError([&] { reg_.PutBytes("Neg", block, INT32_MIN); }),
            "Failed to set data for 'Neg'");
  EXPECT_FALSE(ReadValue(kHkcu, kBase, "Neg").has_value());
  EXPECT_EQ(reg_.KeyPath(), kBase);
}

TEST_F(TRegistryTest, GetDwordRefusesWhatIsNotAFourByteDword) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  const std::uint8_t four[] = {1, 0, 0, 0};
  reg_.PutBytes("Binary", four, 4);
  reg_.PutText("Text", "abcd");  // five bytes
  reg_.PutText("Short", "ab");   // three bytes, but REG_SZ
  const std::uint8_t eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(plat::RegSetValueExA(reg_.KeyHandle(), "LongDword", 0, plat::kRegDword, eight, 8),
            plat::kErrorSuccess);

  const struct {
    const char* name;
    const char* message;
  } cases[] = {
      {"Missing", "Failed to get data for 'Missing'"},
      {"Binary", "Invalid data type for 'Binary'"},
      {"Short", "Invalid data type for 'Short'"},
      {"Text", "Failed to get data for 'Text'"},
      {"LongDword", "Failed to get data for 'LongDword'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RegistryError([&] { reg_.GetDword(c.name); }), c.message);
  }
  EXPECT_EQ(reg_.KeyPath(), kBase);
}

TEST_F(TRegistryTest, ShortDwordReadsWithZeroHighBytes) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  const std::uint8_t two[] = {0x34, 0x92};
  ASSERT_EQ(plat::RegSetValueExA(reg_.KeyHandle(), "Two", 0, plat::kRegDword, two, 2),
            plat::kErrorSuccess);
  ASSERT_EQ(plat::RegSetValueExA(reg_.KeyHandle(), "Zero", 0, plat::kRegDword, two, 0),
            plat::kErrorSuccess);
  EXPECT_EQ(reg_.GetDword("Two"), 0x9234);
  EXPECT_EQ(reg_.GetDword("Zero"), 0);
}

TEST_F(TRegistryTest, ValueOperationsWithoutAKeyFail) {
  EXPECT_EQ(RegistryError([&] { reg_.PutText("Name", "x"); }), "Failed to set data for 'Name'");
  EXPECT_EQ(RegistryError([&] { reg_.PutDword("D", 1); }), "Failed to set data for 'D'");
  const std::uint8_t byte = 0;
  EXPECT_EQ(RegistryError([&] { reg_.PutBytes("B", &byte, 1); }), "Failed to set data for 'B'");
  EXPECT_EQ(RegistryError([&] { reg_.GetDword("G"); }), "Failed to get data for 'G'");
  EXPECT_FALSE(reg_.RemoveValue("Name"));
  EXPECT_TRUE(testing_support::ValueNames(kHkcu, "").empty() ||
              !ReadValue(kHkcu, "", "Name").has_value());
}

TEST_F(TRegistryTest, RemoveValue) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  reg_.PutDword("Gone", 1);
  reg_.PutText("", "default");
  EXPECT_TRUE(reg_.RemoveValue("Gone"));
  EXPECT_FALSE(reg_.RemoveValue("Gone"));
  EXPECT_FALSE(reg_.RemoveValue("NeverThere"));
  EXPECT_TRUE(reg_.RemoveValue(""));
  EXPECT_TRUE(testing_support::ValueNames(kHkcu, kBase).empty());
}

TEST_F(TRegistryTest, ClosingReleasesTheHandle) {
  for (bool defer_flush : {true, false}) {
    plat::RegKey handle;
    {
      TRegistry reg;
      reg.SetDeferFlush(defer_flush);
      ASSERT_TRUE(reg.OpenPath(kBase, true));
      reg.PutDword("Closed", 1);
      handle = reg.KeyHandle();
    }
    std::uint32_t size = 0;
    EXPECT_EQ(plat::RegQueryValueExA(handle, "Closed", nullptr, nullptr, nullptr, &size),
              plat::kErrorInvalidHandle);
    EXPECT_TRUE(ReadValue(kHkcu, kBase, "Closed").has_value());
  }

  reg_.SetDeferFlush(false);
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  reg_.ClosePath();
  EXPECT_EQ(reg_.KeyHandle(), plat::kNullKey);
  EXPECT_EQ(reg_.KeyPath(), "");
  reg_.ClosePath();  // nothing open: nothing happens
}

TEST_F(TRegistryTest, ValueNamesAreCaseInsensitive) {
  ASSERT_TRUE(reg_.OpenPath(kBase, true));
  reg_.PutDword("MixedCase", 1);
  reg_.PutDword("MIXEDCASE", 2);
  EXPECT_EQ(reg_.GetDword("mixedcase"), 2);
  EXPECT_EQ(testing_support::ValueNames(kHkcu, kBase), std::vector<std::string>{"MixedCase"});
  ASSERT_TRUE(reg_.OpenPath("\\SOFTWARE\\brevlintest", false));
  EXPECT_EQ(reg_.GetDword("MixedCase"), 2);
}

}  // namespace
