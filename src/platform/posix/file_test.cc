#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/exceptions.h"
#include "import/text_reader.h"
#include "platform/file.h"
#include "testing/temp_files.h"

namespace {

using testing_support::JoinPath;
using testing_support::NewTempDir;

std::uint32_t OpenStatus(const std::string& name) {
  plat::ReadOnlyFile file;
  return file.Open(name);
}

// Only regular files are read: a pipe or a device could block the program or
// feed it without end.
TEST(ReadOnlyFilePosix, RefusesWhatIsNotARegularFile) {
  std::string fifo = JoinPath(NewTempDir(), "fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(OpenStatus(fifo), 5u);  // no writer: must not wait for one
  EXPECT_EQ(OpenStatus("/dev/zero"), 5u);
  EXPECT_EQ(OpenStatus(NewTempDir()), 5u);
}

TEST(ReadOnlyFilePosix, BackslashesSeparateFolders) {
  std::string path = testing_support::WriteTempFile("x\n", "name.cfg");
  std::string backslashed = path;
  for (char& c : backslashed) {
    if (c == '/')
      c = '\\';
  }
  plat::ReadOnlyFile file;
  ASSERT_EQ(file.Open(backslashed), 0u);
  char buffer[8];
  std::size_t got = 0;
  ASSERT_EQ(file.Read(buffer, sizeof buffer, &got), 0u);
  EXPECT_EQ(std::string(buffer, got), "x\n");
  EXPECT_EQ(file.Close(), 0u);
  EXPECT_FALSE(file.IsOpen());
}

TEST(ReadOnlyFilePosix, ErrorCodesFollowWindows) {
  std::string dir = NewTempDir();
  std::string file = testing_support::WriteTempFile("x");
  EXPECT_EQ(OpenStatus(JoinPath(dir, "missing")), 2u);
  EXPECT_EQ(OpenStatus(JoinPath(JoinPath(dir, "missing"), "x")), 3u);
  EXPECT_EQ(OpenStatus(JoinPath(file, "x")), 3u);  // a file used as a folder
  EXPECT_EQ(OpenStatus(""), 3u);
  EXPECT_EQ(OpenStatus(JoinPath(dir, std::string(300, 'n'))), 206u);
  if (::geteuid() != 0) {
    // Root reads every file whatever its mode, so this only means something
    // for other users.
    std::string locked = testing_support::WriteTempFile("x");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(OpenStatus(locked), 5u);
  }
}

TEST(ReadOnlyFilePosix, OpeningTwiceAndReadingClosedFail) {
  std::string path = testing_support::WriteTempFile("x");
  plat::ReadOnlyFile file;
  ASSERT_EQ(file.Open(path), 0u);
  EXPECT_NE(file.Open(path), 0u);
  EXPECT_EQ(file.Close(), 0u);
  char c;
  std::size_t got = 7;
  EXPECT_EQ(file.Read(&c, 1, &got), 6u);
  EXPECT_EQ(got, 0u);
}

}  // namespace
