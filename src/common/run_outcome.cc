#include "common/run_outcome.h"

RunOutcome& TheRunOutcome() {
  static RunOutcome outcome;
  return outcome;
}

int ExitStatusOf(const RunOutcome& outcome) {
  struct Rank {
    RunEvent event;
    int status;
  };
  // A wrong command line or an unreadable file explains every other event;
  // a store that cannot be written explains the refused writes.
  static constexpr Rank kRanks[] = {
      {RunEvent::kUsageError, kExitUsage},
      {RunEvent::kFileMissing, kExitFileUnreadable},
      {RunEvent::kFileUnreadable, kExitFileUnreadable},
      {RunEvent::kStoreBusy, kExitStoreUnavailable},
      {RunEvent::kStoreUnavailable, kExitStoreUnavailable},
      {RunEvent::kWrongProduct, kExitWrongProduct},
      {RunEvent::kWriteRefused, kExitNotAllWritten},
      {RunEvent::kWriteFailed, kExitNotAllWritten},
      {RunEvent::kLineSkipped, kExitNotAllWritten},
      {RunEvent::kInternalError, kExitFailure},
  };
  for (const Rank& rank : kRanks) {
    if (outcome.Has(rank.event))
      return rank.status;
  }
  return kExitSuccess;
}
