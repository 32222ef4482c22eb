// Before the program waits, the store commits the group of changes in hand,
// so that other programs see them and nobody waits on this one while it
// waits: before a message, a sleep, and each read of the configuration file.
#include <gtest/gtest.h>

#include <string>

#include "import/text_reader.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "testing/posix/store_commit_watch.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

using testing_support::StoreCommitWatch;

TEST(WaitsCommit, MessageSleepAndFileReadCommitTheGroupFirst) {
  testing_support::ScopedTestRegistry registry;
  StoreCommitWatch watch(registry.StorePath());
  ASSERT_TRUE(watch.WriteKey(0));
  ASSERT_EQ(watch.ValuesSeen(), 0);
  int seen_by_message = -1;
  plat::SetMessageRecorder(
      [&](const plat::ShownMessage&) { seen_by_message = watch.ValuesSeen(); });
  plat::MessageBoxA(plat::kNoWindow, "text", "caption", plat::kMbIconError);
  plat::SetMessageRecorder(nullptr);
  EXPECT_EQ(seen_by_message, 3) << "a message is shown only after the group is committed";

  ASSERT_TRUE(watch.WriteKey(1));
  plat::Sleep(1);
  EXPECT_EQ(watch.ValuesSeen(), 6);

  // The reader of configuration files commits before each read of its file.
  ASSERT_TRUE(watch.WriteKey(2));
  const std::string file = testing_support::WriteTempFile("line\n");
  TTextReader reader;
  reader.Open(file);
  EXPECT_EQ(watch.ValuesSeen(), 6);
  EXPECT_EQ(reader.ReadLine(), "line");
  EXPECT_EQ(watch.ValuesSeen(), 9);
  reader.Close();

  ASSERT_TRUE(watch.WriteKey(3));
  plat::FlushPendingWrites();
  EXPECT_EQ(watch.ValuesSeen(), 12);
}

}  // namespace
