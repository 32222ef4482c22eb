// The store's connection to its file: where the file is, how it is opened,
// made or brought up to date, whether it may be written, how long this
// process has waited for other processes' locks, and whether the file is
// still the one opened. Every failed statement of the store is reported
// here (Fail), and every problem of the store as a whole is printed here,
// each once.
#ifndef BREVLIN_REGSTORE_CONNECTION_H_
#define BREVLIN_REGSTORE_CONNECTION_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

#include "regstore/database.h"
#include "regstore/regstore.h"

namespace regstore {

// Told of every failed statement, before the failure is printed: SQLite may
// have ended the write transaction by itself.
class FailureObserver {
 public:
  virtual void StatementFailed(Status status, int rc) = 0;

 protected:
  ~FailureObserver() = default;
};

class StoreConnection {
 public:
  StoreConnection() = default;
  StoreConnection(const StoreConnection&) = delete;
  StoreConnection& operator=(const StoreConnection&) = delete;

  // The store file this connection opens: the one set by UsePath, or the
  // one the environment names.
  std::string Path() const;
  // Points the connection at another file ("" for the environment's) and
  // forgets what happened to the last one: its trouble, how its last open
  // ended, the time waited. The connection must be closed.
  void UsePath(const std::string& path);
  // How long the process waits, in all, for other processes' locks.
  void SetWaitLimit(std::uint32_t milliseconds);

  // Opens the store file, making it when it is missing and setting up or
  // bringing up to date a writable one. On failure the connection stays
  // closed and `detail`, when given, receives a readable reason.
  Status Open(std::string* detail);
  void Close() { db_.Close(); }
  bool is_open() const { return db_.is_open(); }
  // How the last attempt to open the store ended.
  Status open_status() const { return open_status_; }
  // The path of the file opened.
  const std::string& opened_path() const { return db_path_; }
  bool read_only() const { return read_only_; }
  // Set when the store failed as a whole (busy past the wait limit, disk
  // full, damaged, replaced): every later change is refused with it.
  Status trouble() const { return trouble_; }

  Database& db() { return db_; }
  sqlite3_stmt* Statement(StatementId id) { return db_.Statement(id); }
  // Steps a statement that answers no rows.
  Status StepDone(sqlite3_stmt* stmt);
  // A statement failed with `rc`: records a failure of the store as a whole,
  // tells the observer and prints what the failure means; answers its
  // status.
  Status Fail(int rc);
  void SetFailureObserver(FailureObserver* observer) { observer_ = observer; }

  // The read transaction of one call (see ReadScope).
  bool in_read() const { return in_read_; }
  void BeginRead();
  void EndRead();

  // Whether the path no longer leads to the file this connection opened: the
  // store was replaced or removed under it.
  bool StoreFileReplaced() const;
  // Refuses writes from now on: the store was replaced or removed.
  Status RefuseReplaced();
  // Refuses a write because the store file is read-only.
  Status RefuseReadOnly();
  // Forces the committed changes to the disk.
  Status SyncToDisk();

  // Waits once for another process's lock, within what is left of the run's
  // wait limit; false when nothing is left of it.
  bool WaitForLock(int count);

  // Problems of the store as a whole go to standard error, each once: the
  // registry functions answer only a code, which their callers need not
  // show.
  void Note(const std::string& text);

 private:
  Status OpenStore(std::string* detail);
  // Makes a new store at the path: set up under another name beside it and
  // linked into place only when whole, so that no program ever finds a store
  // half made, and a file at the path that is not a store is never taken for
  // a new one.
  Status CreateStoreFile(std::string* detail);
  void NoteFailure(Status status, int rc);
  // SQLite's busy handler.
  static int OnBusy(void* connection, int count);

  Database db_;
  std::string path_override_;
  std::string db_path_;
  bool read_only_ = false;
  std::uint32_t wait_limit_ms_ = 15000;
  // The time this process has waited for other processes' locks, in all: the
  // wait limit holds for the whole run, not for each call.
  std::chrono::steady_clock::duration waited_{};
  // The file the connection opened.
  dev_t store_device_ = 0;
  ino_t store_inode_ = 0;
  Status trouble_ = regdefs::kErrorSuccess;
  Status open_status_ = regdefs::kErrorSuccess;
  bool in_read_ = false;
  std::set<std::string> noted_;
  FailureObserver* observer_ = nullptr;
};

// The read scope of one call: the reads of a call share one read
// transaction, which is much cheaper than one per statement. Inside a write
// transaction (`in_write`), or inside another read scope, it does nothing; a
// write transaction begun inside it ends the read transaction first.
class ReadScope {
 public:
  ReadScope(StoreConnection* connection, bool in_write)
      : connection_(connection), began_(!connection->in_read() && !in_write) {
    if (began_)
      connection_->BeginRead();
  }
  ~ReadScope() {
    if (began_)
      connection_->EndRead();
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  StoreConnection* connection_;
  bool began_;
};

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_CONNECTION_H_
