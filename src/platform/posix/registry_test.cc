// The seven registry functions on Linux, where they are answered by the
// registry store: what they add to the store's answers.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/registry_fixture.h"

namespace {

using namespace plat;
using testing_support::ScopedRegKey;

// A key path is at most 260 characters, whatever its names, as under Wine;
// the store itself takes longer ones.
TEST(PosixRegistry, KeyPathsOfAtMost260Characters) {
  testing_support::ScopedTestRegistry registry;
  ScopedRegKey key;
  ASSERT_EQ(key.Create(kHkeyCurrentUser, "Software\\A"), kErrorSuccess);
  const std::string path260 = "Software\\A\\" + std::string(99, 'p') + "\\" + std::string(99, 'p') +
                              "\\" + std::string(49, 'q');
  ASSERT_EQ(path260.size(), 260u);
  const std::string path261 = path260 + "q";
  ScopedRegKey other;
  RegKey raw = 0x1234;
  const struct {
    const char* what;
    Status got;
    Status expected;
  } cases[] = {
      {"create of 260 characters", other.Create(kHkeyCurrentUser, path260), kErrorSuccess},
      {"open of 260 characters", other.Open(kHkeyCurrentUser, path260), kErrorSuccess},
      {"create of 261 characters", other.Create(kHkeyCurrentUser, path261), kErrorMoreData},
      {"open of 261 characters", other.Open(kHkeyCurrentUser, path261), kErrorMoreData},
      {"261 characters below an open key", other.Create(key.get(), "\\" + path260), kErrorMoreData},
      {"refused open clears the handle",
       RegOpenKeyExA(kHkeyCurrentUser, path261.c_str(), 0, kKeyRead, &raw), kErrorMoreData},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.got, c.expected) << c.what;
  EXPECT_EQ(raw, kNullKey);
  EXPECT_FALSE(testing_support::KeyExists(kHkeyCurrentUser, path261));
  EXPECT_EQ(RegistryState(), kErrorSuccess) << "a refused path is no trouble of the store";
}

}  // namespace
