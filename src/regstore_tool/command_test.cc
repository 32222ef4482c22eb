#include "regstore_tool/command.h"

#include <gtest/gtest.h>

#include "regstore/regstore.h"
#include "testing/registry_fixture.h"

namespace regstore_tool {
namespace {

// Why a change failed, as a message of the command ends: the status's own
// text, except that a read-only store is named by its file.
TEST(StoreFailureReasonTest, TellsWhyAChangeFailed) {
  testing_support::ScopedTestRegistry registry;
  ASSERT_FALSE(regstore::StoreIsReadOnly());
  const std::string read_only = "the registry store " + regstore::StorePath() + " is read-only";
  const struct {
    Status status;
    std::string reason;
  } cases[] = {
      {plat::kErrorWriteProtect, read_only},
      {plat::kErrorAccessDenied,
       "access is denied: the key, a key above it or a key below it is protected, or its values "
       "are locked"},
      {plat::kErrorFileNotFound,
       "the system was unable to find the specified registry key or value"},
      {plat::kErrorBusy,
       "the registry store is busy: other programs have held it for longer than this program "
       "waits"},
      {plat::kErrorKeyDeleted, "the registry key has been deleted"},
      {4242, "error 4242"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StoreFailureReason(c.status), c.reason) << c.status;
}

}  // namespace
}  // namespace regstore_tool
