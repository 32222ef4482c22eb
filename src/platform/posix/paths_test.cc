#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "testing/backslashes.h"
#include "testing/temp_files.h"

namespace {

using testing_support::Backslashes;

TEST(PosixGetFullPathName, ResolvesElementsByName) {
  struct Case {
    std::string name;
    std::string full;
  } cases[] = {
      {R"(\a\b\..\c)", R"(\a\c)"},
      {R"(\a\.\b\)", R"(\a\b\)"},
      {R"(\..\..\a)", R"(\a)"},
      {R"(\a\..)", R"(\)"},
      {R"(\a\b\.)", R"(\a\b)"},
      {"/opt/brevlin/", R"(\opt\brevlin\)"},
      {R"(\a\\b\\)", R"(\a\b\)"},
      {R"(\)", R"(\)"},
      {R"(\name.with.dots.)", R"(\name.with.dots.)"},
  };
  for (const Case& c : cases) {
    std::string full;
    ASSERT_EQ(plat::GetFullPathNameA(c.name, &full), plat::kErrorSuccess) << c.name;
    EXPECT_EQ(full, c.full) << c.name;
  }
  std::string full;
  EXPECT_NE(plat::GetFullPathNameA("", &full), plat::kErrorSuccess);
}

TEST(PosixGetFullPathName, TakesRelativeNamesFromTheCurrentFolder) {
  std::string current = Backslashes(std::filesystem::current_path().string());
  std::string full;
  ASSERT_EQ(plat::GetFullPathNameA(R"(x\y\..\z)", &full), plat::kErrorSuccess);
  EXPECT_EQ(full, current + R"(\x\z)");
  ASSERT_EQ(plat::GetFullPathNameA(".", &full), plat::kErrorSuccess);
  EXPECT_EQ(full, current);
}

// Only regular files are files here; the rest must never be opened as one.
TEST(PosixFileAttributes, TellsFilesFoldersAndOtherEntriesApart) {
  std::string dir = testing_support::NewTempDir();
  std::string file = testing_support::WriteTempFile("x");
  std::string fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string link = dir + "/link";
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  std::string dangling = dir + "/dangling";
  ASSERT_EQ(::symlink((dir + "/nothing").c_str(), dangling.c_str()), 0);

  struct Case {
    std::string name;
    plat::Status status;
    std::uint32_t attributes;
  } cases[] = {
      {file, plat::kErrorSuccess, plat::kFileAttributeNormal},
      {Backslashes(file), plat::kErrorSuccess, plat::kFileAttributeNormal},
      {link, plat::kErrorSuccess, plat::kFileAttributeNormal},
      {dir, plat::kErrorSuccess, plat::kFileAttributeDirectory},
      {fifo, plat::kErrorSuccess, plat::kFileAttributeDevice},
      {"/dev/null", plat::kErrorSuccess, plat::kFileAttributeDevice},
      {dir + "/missing", plat::kErrorFileNotFound, 0},
      {dir + "/missing/x", plat::kErrorPathNotFound, 0},
  };
  for (const Case& c : cases) {
    // A failure leaves the attributes alone.
    std::uint32_t attributes = 0;
    EXPECT_EQ(plat::GetFileAttributesA(c.name, &attributes), c.status) << c.name;
    EXPECT_EQ(attributes, c.attributes) << c.name;
    attributes = 0;
    EXPECT_EQ(plat::FindFirstFileA(c.name, &attributes), c.status) << "search: " << c.name;
    EXPECT_EQ(attributes, c.attributes) << c.name;
  }
  std::uint32_t attributes = 0;
  EXPECT_EQ(plat::GetFileAttributesA(dangling, &attributes), plat::kErrorFileNotFound);
  ASSERT_EQ(plat::FindFirstFileA(dangling, &attributes), plat::kErrorSuccess);
  EXPECT_EQ(attributes, plat::kFileAttributeDevice);
}

}  // namespace
