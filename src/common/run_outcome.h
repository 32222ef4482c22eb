// What a run of the program came to. The shell and the importer note each
// event that kept something from being written; on Linux the entry point
// turns the record into the process's exit status, while the Windows program
// ends with 0 whatever happened, as the installers that start it expect.
#ifndef BREVLIN_COMMON_RUN_OUTCOME_H_
#define BREVLIN_COMMON_RUN_OUTCOME_H_

#include <array>
#include <cstddef>

enum class RunEvent {
  kUsageError,        // the command line asks for nothing that can be done
  kFileMissing,       // the configuration file does not exist (or is no file)
  kFileUnreadable,    // it exists but could not be opened or read
  kWrongProduct,      // it belongs to another product
  kWriteRefused,      // a key the user may not write
  kLineSkipped,       // a key or value line that writes nothing
  kWriteFailed,       // a write the registry refused
  kStoreBusy,         // the registry is held by another program
  kStoreUnavailable,  // the registry cannot be written at all
  kInternalError,     // anything else that ended the run early
};
constexpr std::size_t kRunEventCount = static_cast<std::size_t>(RunEvent::kInternalError) + 1;

// The exit statuses of the Linux program, from the least to the most
// specific failure; a run with several events ends with the one that
// ExitStatusOf ranks first.
enum ExitStatus : int {
  kExitSuccess = 0,          // everything the file asks for was written
  kExitFailure = 1,          // an unexpected failure
  kExitUsage = 2,            // a wrong command line
  kExitFileUnreadable = 3,   // the file is missing or cannot be read
  kExitWrongProduct = 4,     // the file belongs to another product
  kExitNotAllWritten = 5,    // some keys or values were refused or skipped
  kExitStoreUnavailable = 6  // the registry store is busy, read-only, full or no store
};

// What each exit status means, in the order of their numbers, as the help
// text lists them.
struct ExitStatusMeaning {
  ExitStatus status;
  const char* meaning;
};
inline constexpr ExitStatusMeaning kExitStatusMeanings[] = {
    {kExitSuccess, "everything the file asks for was written (or, with --check, would be)"},
    {kExitFailure, "an unexpected failure"},
    {kExitUsage, "a wrong command line"},
    {kExitFileUnreadable, "the file is missing or cannot be read"},
    {kExitWrongProduct, "the file belongs to another product"},
    {kExitNotAllWritten, "some keys or values were refused or skipped"},
    {kExitStoreUnavailable,
     "the registry store cannot be used: busy, read-only, full or not a store"},
};

class RunOutcome {
 public:
  void Note(RunEvent event) { ++counts_[static_cast<std::size_t>(event)]; }
  bool Has(RunEvent event) const { return Count(event) != 0; }
  std::size_t Count(RunEvent event) const { return counts_[static_cast<std::size_t>(event)]; }
  void Clear() { counts_.fill(0); }

 private:
  std::array<std::size_t, kRunEventCount> counts_{};
};

// The record of this process's run.
RunOutcome& TheRunOutcome();

// The exit status for a run: a wrong command line first, then a file that
// could not be read, an unusable store, another product's file, writes that
// were refused or skipped, and any other failure; 0 without any event.
int ExitStatusOf(const RunOutcome& outcome);

#endif  // BREVLIN_COMMON_RUN_OUTCOME_H_
