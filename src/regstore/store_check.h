// The store checker: whether a store file is sound, read without changing
// it. It runs SQLite's own integrity check of the file, then checks the
// store's rules: the file is a store of a version this program knows, the
// root keys are there, every key's parent exists and leads up to a root key,
// every value's key exists, each name's folded form is the one FoldName makes
// of it, no two names in one key are one name, key names are names a path
// can hold, and flags and value types are in range.
#ifndef BREVLIN_REGSTORE_STORE_CHECK_H_
#define BREVLIN_REGSTORE_STORE_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace regstore {

struct StoreProblem {
  // The key the problem concerns, as a path from its root key; empty when it
  // concerns the file or its tables as a whole.
  std::string key_path;
  std::string text;
};

struct StoreCheckReport {
  // What is wrong, at most kMaxReportedProblems of it, and how many problems
  // were found in all.
  std::vector<StoreProblem> problems;
  std::size_t problem_count = 0;
  // The store's version (PRAGMA user_version; a copy restored from a dump,
  // which carries none, counts as the current version).
  std::int64_t version = 0;
  // Set for a store of an older version, which the programs bring up to date
  // when they first open it for writing: its file is checked, not the rules
  // of the current tables.
  bool older_version = false;
  // Keys and values looked at.
  std::uint64_t keys = 0;
  std::uint64_t values = 0;

  bool sound() const { return problem_count == 0; }
};

constexpr std::size_t kMaxReportedProblems = 1000;

// Checks the store file at `path`. Answers false, with the reason in
// `detail`, when the file cannot be opened at all (missing, unreadable);
// otherwise true with what was found in `report`. A file that SQLite can open
// but not read as a database (a damaged or overwritten page, not a database)
// is a problem of the report.
bool CheckStoreFile(const std::string& path, StoreCheckReport* report, std::string* detail);

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_STORE_CHECK_H_
