#include "import/handshake.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/exceptions.h"
#include "common/globals.h"
#include "import/imp_exp_reg.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(AwaitHandshakeValue, EndsAtTheFirstOne) {
  int reads = 0;
  EXPECT_TRUE(AwaitHandshakeValue([&] { return ++reads < 3 ? 0 : 1; }, milliseconds(10000)));
  EXPECT_EQ(reads, 3);
}

TEST(AwaitHandshakeValue, GivesUpAfterTheLimit) {
  int reads = 0;
  auto start = Clock::now();
  EXPECT_FALSE(AwaitHandshakeValue([&] { return ++reads, 0; }, milliseconds(200)));
  auto waited = Clock::now() - start;
  EXPECT_GE(waited, milliseconds(200));
  EXPECT_LT(waited, milliseconds(5000));
  EXPECT_GT(reads, 1);  // it reads again while it waits
}

TEST(AwaitHandshakeValue, ReadFailuresPassOn) {
  EXPECT_THROW(AwaitHandshakeValue([]() -> std::int32_t { throw ERegistryException("gone"); },
                                   milliseconds(1000)),
               ERegistryException);
}

// Another writer keeps setting "Loading" to 0 while an import ends, as a second
// import that starts and stops early would. The import must not wait for ever:
// it completes, and leaves the value as the other writer left it when it did
// not read its own 1 back.
TEST(ImportHandshake, AnotherWriterCannotHoldTheImport) {
  testing_support::ScopedTestRegistry registry;
  plat::SetMessageRecorder([](const plat::ShownMessage&) { ADD_FAILURE() << "a message"; });
  std::atomic<bool> stop{false};
  std::thread other_writer([&] {
    while (!stop) {
      testing_support::ScopedRegKey key;
      if (key.Create(kHandshakeRoot, kHandshakeKey) == plat::kErrorSuccess) {
        const std::uint8_t zero[4] = {0, 0, 0, 0};
        plat::RegSetValueExA(key.get(), kHandshakeValue, 0, plat::kRegDword, zero, 4);
      }
    }
  });
  std::string file = testing_support::WriteTempFile("[Software\\BrevlinTest\\K]\nstring\tV\tx\n");
  auto start = Clock::now();
  bool result =
      ImportConfigFile(plat::kHkeyCurrentUser, file, "Brevlin", false, ImportScope::kBoth);
  auto took = Clock::now() - start;
  stop = true;
  other_writer.join();
  plat::SetMessageRecorder(nullptr);

  EXPECT_TRUE(result);
  EXPECT_LT(took, std::chrono::seconds(20));
  EXPECT_TRUE(testing_support::ReadValue(plat::kHkeyCurrentUser, "Software\\BrevlinTest\\K", "V"));
  auto loading = testing_support::ReadValue(plat::kHkeyCurrentUser, kHandshakeKey, kHandshakeValue);
  if (took >= std::chrono::seconds(5)) {
    // It gave up waiting: the other writer's 0 stays.
    ASSERT_TRUE(loading.has_value());
    EXPECT_EQ(loading->data, (std::vector<std::uint8_t>{0, 0, 0, 0}));
  }
}

}  // namespace
