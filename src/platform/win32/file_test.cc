#include <gtest/gtest.h>

#include "app/main_win.h"
#include "common/exceptions.h"
#include "import/text_reader.h"
#include "platform/win32/windows_wrapper.h"
#include "testing/temp_files.h"

namespace {

// A file that another process holds open without letting others read it
// cannot be opened: the sharing violation reaches the caller as code 32.
TEST(TextReaderWin32, FileHeldWithoutSharingGivesSharingViolation) {
  std::string path = testing_support::WriteTempFile("a\n");
  HANDLE holder = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  TTextReader reader;
  try {
    reader.Open(path);
    ADD_FAILURE() << "the open succeeded";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 32u);
    EXPECT_EQ(e.Message(), "I/O error 32");
  }
  ::CloseHandle(holder);
}

// The reader shares the file for reading and writing: a writer that opens the
// file afterwards, asking to share reads, gets in.
TEST(TextReaderWin32, WritersMayOpenTheFileWhileItIsRead) {
  std::string path = testing_support::WriteTempFile("a\n");
  TTextReader reader;
  reader.Open(path);
  HANDLE writer = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE)
    ::CloseHandle(writer);
  reader.Close();
}

// Names that lead to a pipe or a device are not files: the existence test
// says so, and the reader refuses them as well, should one get that far.
TEST(TextReaderWin32, PipesAndDevicesAreNoFiles) {
  const char pipe_name[] = "\\\\.\\pipe\\brevlin-file-test";
  HANDLE server = ::CreateNamedPipeA(pipe_name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 4, 4096, 4096,
                                     0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  const std::string file = testing_support::WriteTempFile("a\n");
  EXPECT_TRUE(IsExistingFile(file));
  for (const std::string& name :
       {std::string(pipe_name), std::string("NUL"), std::string("COM1")}) {
    EXPECT_FALSE(IsExistingFile(name)) << name;
    TTextReader reader;
    try {
      reader.Open(name);
      ADD_FAILURE() << name << " was opened";
    } catch (const EInOutError& e) {
      // On a machine without a COM1 port its open fails anyway.
      if (name != "COM1") {
        EXPECT_EQ(e.ErrorCode(), 5u) << name;
      }
    }
  }
  ::CloseHandle(server);
}

}  // namespace
