#include "import/import_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

// The store's troubles are told in sentences of their own; a store that
// cannot be opened, and any answer without a store text, in one more.
TEST(ImportMessagesTest, StoreProblemText) {
  const struct {
    plat::Status state;
    const char* text;
  } cases[] = {
      {plat::kErrorBusy,
       "The registry store is busy: other programs have held it for longer than this program "
       "waits."},
      {plat::kErrorDiskFull, "The registry store's disk is full."},
      {plat::kErrorWriteProtect, "The registry store is read-only, or belongs to another user."},
      {plat::kErrorIoDevice, "The registry store's disk failed a read or a write."},
      {plat::kErrorBadDb,
       "The registry store is damaged, was replaced or removed, or is not a registry store."},
      {plat::kErrorAccessDenied, "The registry store cannot be opened."},
      {plat::kErrorGenFailure, "The registry store cannot be opened."},
      {4242, "The registry store cannot be opened."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StoreProblemText(c.state), c.text) << c.state;
}

TEST(ImportMessagesTest, QuotedForListing) {
  const struct {
    std::string text;
    std::string quoted;
  } cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {"v\0w\t\r\n\x1b\x7f"s, "\"v\\x00w\\t\\r\\n\\x1B\\x7F\""},
      {"\xe9\xc2\x9b", "\"\xe9\xc2\x9b\""},  // code-page letters
  };
  for (const auto& c : cases)
    EXPECT_EQ(QuotedForListing(c.text), c.quoted) << c.quoted;
}

}  // namespace
