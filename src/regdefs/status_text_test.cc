#include "regdefs/status_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace regdefs {
namespace {

// Every status of the vocabulary.
constexpr Status kEveryStatus[] = {
    kErrorSuccess,
    kErrorInvalidFunction,
    kErrorFileNotFound,
    kErrorPathNotFound,
    kErrorTooManyOpenFiles,
    kErrorAccessDenied,
    kErrorInvalidHandle,
    kErrorNotEnoughMemory,
    kErrorInvalidData,
    kErrorWriteProtect,
    kErrorGenFailure,
    kErrorSharingViolation,
    kErrorInvalidParameter,
    kErrorDiskFull,
    kErrorInvalidName,
    kErrorBadPathname,
    kErrorBusy,
    kErrorFilenameExcedRange,
    kErrorMoreData,
    kErrorNoAccess,
    kErrorIoDevice,
    kErrorBadDb,
    kErrorKeyDeleted,
    kErrorCantResolveFilename,
};

TEST(StatusTextTest, EveryStatusHasATextOfItsOwn) {
  std::set<std::string> texts;
  for (Status status : kEveryStatus) {
    EXPECT_TRUE(HasStatusText(status)) << status;
    const std::string text = StatusText(status);
    ASSERT_FALSE(text.empty()) << status;
    // It follows a colon in a message.
    EXPECT_TRUE(std::islower(static_cast<unsigned char>(text[0]))) << text;
    EXPECT_NE(text.back(), '.') << text;
    EXPECT_EQ(text.find("error "), std::string::npos) << text;
    EXPECT_TRUE(texts.insert(text).second) << "two statuses read " << text;
  }
}

TEST(StatusTextTest, TellsTheStoresTroubles) {
  const struct {
    Status status;
    const char* text;
  } cases[] = {
      {kErrorBusy,
       "the registry store is busy: other programs have held it for longer than this program "
       "waits"},
      {kErrorDiskFull, "the registry store's disk is full"},
      {kErrorWriteProtect, "the registry store is read-only, or belongs to another user"},
      {kErrorIoDevice, "the registry store's disk failed a read or a write"},
      {kErrorBadDb,
       "the registry store is damaged, was replaced or removed, or is not a registry store"},
      {kErrorFileNotFound, "the system was unable to find the specified registry key or value"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StatusText(c.status), c.text);
}

TEST(StatusTextTest, AnUnknownStatusGivesItsNumber) {
  for (Status status : {Status{7}, Status{4242}, Status{0xFFFFFFFFu}}) {
    EXPECT_FALSE(HasStatusText(status));
    EXPECT_EQ(StatusText(status), "error " + std::to_string(status));
  }
}

}  // namespace
}  // namespace regdefs
