#include "common/run_outcome.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

RunOutcome With(std::initializer_list<RunEvent> events) {
  RunOutcome outcome;
  for (RunEvent event : events)
    outcome.Note(event);
  return outcome;
}

TEST(ExitStatusOf, RanksTheEventsOfARun) {
  struct Case {
    std::initializer_list<RunEvent> events;
    int expected;
  };
  const Case cases[] = {
      {{}, kExitSuccess},
      {{RunEvent::kUsageError}, kExitUsage},
      {{RunEvent::kFileMissing}, kExitFileUnreadable},
      {{RunEvent::kFileUnreadable}, kExitFileUnreadable},
      {{RunEvent::kWrongProduct}, kExitWrongProduct},
      {{RunEvent::kWriteRefused}, kExitNotAllWritten},
      {{RunEvent::kLineSkipped}, kExitNotAllWritten},
      {{RunEvent::kWriteFailed}, kExitNotAllWritten},
      {{RunEvent::kStoreBusy}, kExitStoreUnavailable},
      {{RunEvent::kStoreUnavailable}, kExitStoreUnavailable},
      {{RunEvent::kInternalError}, kExitFailure},
      // A store that refuses everything explains the refused keys.
      {{RunEvent::kWriteRefused, RunEvent::kStoreUnavailable}, kExitStoreUnavailable},
      // A failed write also ends the run through the error box.
      {{RunEvent::kWriteFailed, RunEvent::kInternalError}, kExitNotAllWritten},
      // Skipped lines before another product's line: the product is the news.
      {{RunEvent::kLineSkipped, RunEvent::kWrongProduct}, kExitWrongProduct},
      {{RunEvent::kFileUnreadable, RunEvent::kStoreBusy}, kExitFileUnreadable},
      {{RunEvent::kUsageError, RunEvent::kFileMissing}, kExitUsage},
  };
  for (const Case& c : cases) {
    const RunOutcome outcome = With(c.events);
    EXPECT_EQ(ExitStatusOf(outcome), c.expected) << "events: " << c.events.size();
  }
}

TEST(ExitStatusOf, StatusesAreDistinct) {
  const int statuses[] = {kExitSuccess,         kExitFailure,      kExitUsage,
                          kExitFileUnreadable,  kExitWrongProduct, kExitNotAllWritten,
                          kExitStoreUnavailable};
  for (std::size_t i = 0; i < std::size(statuses); ++i) {
    for (std::size_t j = i + 1; j < std::size(statuses); ++j)
      EXPECT_NE(statuses[i], statuses[j]);
  }
}

TEST(RunOutcome, CountsAndClears) {
  RunOutcome outcome;
  outcome.Note(RunEvent::kLineSkipped);
  outcome.Note(RunEvent::kLineSkipped);
  EXPECT_EQ(outcome.Count(RunEvent::kLineSkipped), 2u);
  EXPECT_FALSE(outcome.Has(RunEvent::kWriteRefused));
  outcome.Clear();
  EXPECT_FALSE(outcome.Has(RunEvent::kLineSkipped));
}

}  // namespace
