// The keys that the Windows registry functions keep open after the caller
// closes them: which opens they answer without a call to the system, that
// what the caller sees stays the same, and that they stay few.
#include <gtest/gtest.h>

#include <string>

#include "import/imp_exp_reg.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "platform/win32/registry_calls.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using plat::win32::CountedRegistryCalls;
using testing_support::ReadValue;
using testing_support::StoredValue;

constexpr plat::RegKey kHkcu = plat::kHkeyCurrentUser;
constexpr char kPath[] = "Software\\BrevlinTest\\Kept";

std::uint64_t TotalCalls() {
  return CountedRegistryCalls().Total();
}

plat::Status Create(const char* path, std::uint32_t access, plat::RegKey* key,
                    std::uint32_t* disposition, const char* key_class = nullptr) {
  return plat::RegCreateKeyExA(kHkcu, path, 0, key_class, plat::kRegOptionNonVolatile, access,
                               nullptr, key, disposition);
}

class KeptKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::RegKey key = plat::kNullKey;
    std::uint32_t disposition = 0;
    ASSERT_EQ(Create(kPath, plat::kKeyAllAccess, &key, &disposition), plat::kErrorSuccess);
    ASSERT_EQ(disposition, plat::kRegCreatedNewKey);
    ASSERT_EQ(plat::RegCloseKey(key), plat::kErrorSuccess);
  }
  testing_support::ScopedTestRegistry registry_;
};

TEST_F(KeptKeysTest, ASecondOpenOfTheSameKeyIsAnsweredWithoutACall) {
  struct Case {
    const char* name;
    bool create;  // RegCreateKeyExA, else RegOpenKeyExA
    const char* path;
    std::uint32_t access;
    const char* key_class;
    bool answered_here;
  };
  const Case cases[] = {
      {"create, same path and access", true, kPath, plat::kKeyAllAccess, nullptr, true},
      {"open, same path and access", false, kPath, plat::kKeyAllAccess, nullptr, true},
      {"other access", false, kPath, plat::kKeyRead, nullptr, false},
      {"other letter case", false, "Software\\BrevlinTest\\KEPT", plat::kKeyAllAccess, nullptr,
       false},
      {"create with a class", true, kPath, plat::kKeyAllAccess, "Class", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::win32::CloseKeptKeys();
    // The key as the caller had it last: created, then closed.
    plat::RegKey first = plat::kNullKey;
    std::uint32_t disposition = 0;
    ASSERT_EQ(Create(kPath, plat::kKeyAllAccess, &first, &disposition), plat::kErrorSuccess);
    ASSERT_EQ(plat::RegCloseKey(first), plat::kErrorSuccess);

    const std::uint64_t before = TotalCalls();
    plat::RegKey again = plat::kNullKey;
    disposition = 0;
    const plat::Status status = c.create
                                    ? Create(c.path, c.access, &again, &disposition, c.key_class)
                                    : plat::RegOpenKeyExA(kHkcu, c.path, 0, c.access, &again);
    ASSERT_EQ(status, plat::kErrorSuccess);
    EXPECT_EQ(TotalCalls() - before, c.answered_here ? 0u : 1u);
    if (c.create) {
      EXPECT_EQ(disposition, plat::kRegOpenedExistingKey);
    }
    // The handle leads to the key, with the rights asked for.
    const std::uint8_t one[4] = {1, 0, 0, 0};
    const plat::Status write = plat::RegSetValueExA(again, "V", 0, plat::kRegDword, one, 4);
    if (c.access == plat::kKeyRead) {
      EXPECT_EQ(write, plat::kErrorAccessDenied);
    } else {
      EXPECT_EQ(write, plat::kErrorSuccess);
      EXPECT_EQ(ReadValue(kHkcu, kPath, "V"), (StoredValue{plat::kRegDword, {1, 0, 0, 0}}));
    }
    EXPECT_EQ(plat::RegCloseKey(again), plat::kErrorSuccess);
  }
}

TEST_F(KeptKeysTest, AClosedHandleIsInvalidToTheCallerWhileItIsKept) {
  plat::RegKey key = plat::kNullKey;
  ASSERT_EQ(plat::RegOpenKeyExA(kHkcu, kPath, 0, plat::kKeyAllAccess, &key), plat::kErrorSuccess);
  ASSERT_EQ(plat::RegCloseKey(key), plat::kErrorSuccess);
  const std::uint8_t one[4] = {1, 0, 0, 0};
  std::uint32_t size = 4;
  std::uint8_t data[4];
  EXPECT_EQ(plat::RegSetValueExA(key, "V", 0, plat::kRegDword, one, 4), plat::kErrorInvalidHandle);
  EXPECT_EQ(plat::RegQueryValueExA(key, "V", nullptr, nullptr, data, &size),
            plat::kErrorInvalidHandle);
  EXPECT_EQ(plat::RegDeleteValueA(key, "V"), plat::kErrorInvalidHandle);
  EXPECT_EQ(plat::RegFlushKey(key), plat::kErrorInvalidHandle);
  EXPECT_EQ(plat::RegCloseKey(key), plat::kErrorInvalidHandle);
  EXPECT_FALSE(ReadValue(kHkcu, kPath, "V").has_value());
}

TEST_F(KeptKeysTest, FewKeysAreKeptAndAllAreClosedAtTheEnd) {
  plat::win32::CloseKeptKeys();
  const std::uint64_t closes_before = CountedRegistryCalls().close;
  const int extra = 3;
  for (int i = 0; i < static_cast<int>(plat::win32::kKeptKeys) + extra; ++i) {
    const std::string path = std::string(kPath) + "\\" + std::to_string(i);
    plat::RegKey key = plat::kNullKey;
    std::uint32_t disposition = 0;
    ASSERT_EQ(Create(path.c_str(), plat::kKeyAllAccess, &key, &disposition), plat::kErrorSuccess);
    ASSERT_EQ(plat::RegCloseKey(key), plat::kErrorSuccess);
  }
  EXPECT_EQ(CountedRegistryCalls().close - closes_before, static_cast<std::uint64_t>(extra));
  plat::win32::CloseKeptKeys();
  EXPECT_EQ(CountedRegistryCalls().close - closes_before, plat::win32::kKeptKeys + extra);
  // The oldest went first: the first key's next open is a call again, and
  // nothing is kept now.
  const std::uint64_t before = TotalCalls();
  plat::RegKey key = plat::kNullKey;
  ASSERT_EQ(plat::RegOpenKeyExA(kHkcu, (std::string(kPath) + "\\0").c_str(), 0, plat::kKeyAllAccess,
                                &key),
            plat::kErrorSuccess);
  EXPECT_EQ(TotalCalls() - before, 1u);
  plat::RegCloseKey(key);
}

TEST_F(KeptKeysTest, AKeyIsKeptOnlyBriefly) {
  plat::RegKey key = plat::kNullKey;
  ASSERT_EQ(plat::RegOpenKeyExA(kHkcu, kPath, 0, plat::kKeyAllAccess, &key), plat::kErrorSuccess);
  ASSERT_EQ(plat::RegCloseKey(key), plat::kErrorSuccess);
  plat::Sleep(static_cast<std::uint32_t>(plat::win32::kKeptMilliseconds) + 50);
  const plat::win32::RegistryCallCounts before = CountedRegistryCalls();
  ASSERT_EQ(plat::RegOpenKeyExA(kHkcu, kPath, 0, plat::kKeyAllAccess, &key), plat::kErrorSuccess);
  EXPECT_EQ(CountedRegistryCalls().open - before.open, 1u);
  EXPECT_EQ(CountedRegistryCalls().close - before.close, 1u);  // the one kept too long
  plat::RegCloseKey(key);
}

// A key that the caller holds while another program changes its access list
// is not kept once the caller closes it, when that program says so.
TEST_F(KeptKeysTest, KeysHeldWhileTheirAccessChangesAreNotReused) {
  plat::RegKey key = plat::kNullKey;
  ASSERT_EQ(plat::RegOpenKeyExA(kHkcu, kPath, 0, plat::kKeyAllAccess, &key), plat::kErrorSuccess);
  ASSERT_TRUE(testing_support::ProtectKey(kHkcu, kPath));
  ASSERT_EQ(plat::RegCloseKey(key), plat::kErrorSuccess);
  EXPECT_EQ(plat::RegOpenKeyExA(kHkcu, kPath, 0, plat::kKeyAllAccess, &key),
            plat::kErrorAccessDenied);
}

// The import of a new key with its values makes one call per value and three
// more: the write check's open that finds no key and its create, and the
// close. The key's second open, for its values, is answered by the handle of
// the first.
TEST_F(KeptKeysTest, ImportMakesThreeCallsPerNewKeyBesideItsValues) {
  auto calls_for = [](int keys) {
    std::string file = "<[Brevlin]>\n";
    for (int k = 0; k < keys; ++k) {
      file += "[Software\\BrevlinTest\\Import" + std::to_string(keys) + "\\K" + std::to_string(k) +
              "]\nstring\tA\ta\ninteger\tB\t2\n";
    }
    const std::string name = testing_support::WriteTempFile(file);
    plat::win32::CloseKeptKeys();
    const std::uint64_t before = TotalCalls();
    EXPECT_TRUE(ImportConfigFile(kHkcu, name, "Brevlin", false, ImportScope::kBoth));
    plat::win32::CloseKeptKeys();
    return TotalCalls() - before;
  };
  // Both imports close more keys than are kept, so that neither finds the
  // handshake key kept at its end.
  const int few_keys = static_cast<int>(plat::win32::kKeptKeys) + 2;
  const int more_keys = few_keys + 10;
  const std::uint64_t few = calls_for(few_keys);
  const std::uint64_t more = calls_for(more_keys);
  EXPECT_EQ(more - few, 10u * (3 + 2));
  EXPECT_EQ(ReadValue(kHkcu,
                      "Software\\BrevlinTest\\Import" + std::to_string(more_keys) + "\\K" +
                          std::to_string(more_keys - 1),
                      "B"),
            (StoredValue{plat::kRegDword, {2, 0, 0, 0}}));
}

}  // namespace
