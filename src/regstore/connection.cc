#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "regstore/schema.h"
#include "regstore/store.h"
#include "regstore/vfs.h"

namespace regstore {

using namespace plat;

namespace {

// Creates the folders above `path` that are missing.
bool MakeParentFolders(const std::string& path, std::string* detail) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      if (detail)
        *detail = "cannot create the folder " + folder + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

void SyncFile(const std::string& path, bool folder) {
  int fd = ::open(path.c_str(), (folder ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return;
  if (folder) {
    ::fsync(fd);
  } else {
    ::fdatasync(fd);
  }
  ::close(fd);
}

}  // namespace

std::string DefaultStorePath() {
  const char* explicit_path = std::getenv("REGSTORE");
  if (explicit_path && *explicit_path)
    return explicit_path;
  std::string base;
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home && data_home[0] == '/') {
    base = data_home;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* entry = ::getpwuid(::getuid());
      home = entry && entry->pw_dir ? entry->pw_dir : "/";
    }
    base = std::string(home) + "/.local/share";
  }
  while (base.size() > 1 && base.back() == '/')
    base.pop_back();
  return base + "/regstore/registry.db";
}

std::string Store::PathLocked() const {
  return path_override_.empty() ? DefaultStorePath() : path_override_;
}

std::string Store::Path() {
  std::lock_guard<std::mutex> lock(mutex_);
  return PathLocked();
}

void Store::UsePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  Commit();
  Disconnect();
  handles_.clear();
  path_override_ = path;
  lost_changes_ = kErrorSuccess;
}

void Store::SetWaitLimit(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  wait_limit_ms_ = milliseconds;
  if (db_.is_open())
    sqlite3_busy_timeout(db_.get(), static_cast<int>(milliseconds));
}

Status Store::Connect(std::string* detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_.is_open())
    return kErrorSuccess;
  return OpenConnection(detail);
}

bool Store::ReadOnly() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_.is_open() && OpenConnection(nullptr) != kErrorSuccess)
    return true;
  return read_only_;
}

void Store::Disconnect() {
  db_.Close();
  in_txn_ = false;
  EndTransaction();
  key_cache_.Forget();
  key_cache_.Unsync();
}

Status Store::OpenConnection(std::string* detail) {
  db_path_ = PathLocked();
  if (!MakeParentFolders(db_path_, detail))
    return kErrorAccessDenied;
  struct stat st;
  const bool exists = ::stat(db_path_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    if (detail)
      *detail = db_path_ + " is not a file";
    return kErrorAccessDenied;
  }
  // A store file without write permission refuses every write, also for a
  // user (such as root) whom the system would let write it anyway.
  read_only_ = exists && (::access(db_path_.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0);
  const int open_flags =
      (read_only_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
      SQLITE_OPEN_NOMUTEX;

  auto fail = [&](int rc, const char* what) {
    if (detail) {
      *detail = std::string(what) + ": " + db_.ErrorText(rc);
    }
    Disconnect();
    return FromSqlite(rc);
  };

  ConfigureSqliteLibrary();
  int rc = db_.Open(db_path_, open_flags, StoreVfsName());
  if (rc != SQLITE_OK)
    return fail(rc, "cannot open the store");
  sqlite3_busy_timeout(db_.get(), static_cast<int>(wait_limit_ms_));

  std::int64_t application_id = 0;
  std::int64_t object_count = 0;
  auto read_identity = [&]() {
    sqlite3_stmt* stmt = nullptr;
    int result = sqlite3_prepare_v2(
        db_.get(),
        "SELECT (SELECT application_id FROM pragma_application_id), count(*) FROM sqlite_master",
        -1, &stmt, nullptr);
    if (result == SQLITE_OK)
      result = sqlite3_step(stmt);
    if (result == SQLITE_ROW) {
      application_id = sqlite3_column_int64(stmt, 0);
      object_count = sqlite3_column_int64(stmt, 1);
      result = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return result;
  };

  if (read_only_) {
    rc = read_identity();
    if (rc != SQLITE_OK)
      return fail(rc, "cannot read the store");
    if (application_id != kStoreApplicationId) {
      if (detail)
        *detail = db_path_ + " is not a registry store";
      Disconnect();
      return kErrorBadDb;
    }
  } else {
    // Programs that meet at a new store all try to set it up. Switching it to
    // the write-ahead log takes a lock that SQLite does not wait for, so a
    // set-up that finds the store busy is tried again, within the wait limit.
    bool not_a_store = false;
    auto set_up = [&]() -> std::pair<int, const char*> {
      int result = ConfigureStoreConnection(db_.get());
      if (result != SQLITE_OK)
        return {result, "cannot set up the store"};
      result = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      if (result != SQLITE_OK)
        return {result, "cannot set up the store"};
      result = read_identity();
      if (result != SQLITE_OK)
        return {result, "cannot read the store"};
      if (application_id != kStoreApplicationId && (application_id != 0 || object_count != 0)) {
        not_a_store = true;
        return {SQLITE_OK, nullptr};
      }
      result = sqlite3_exec(db_.get(), StoreSchemaSql(), nullptr, nullptr, nullptr);
      if (result == SQLITE_OK && application_id == 0) {
        result = sqlite3_exec(
            db_.get(), ("PRAGMA application_id=" + std::to_string(kStoreApplicationId)).c_str(),
            nullptr, nullptr, nullptr);
      }
      if (result == SQLITE_OK)
        result = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
      return {result, "cannot set up the store"};
    };
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_limit_ms_);
    std::pair<int, const char*> outcome;
    for (int pause_ms = 1;; pause_ms = std::min(pause_ms * 2, 50)) {
      outcome = set_up();
      const int primary = outcome.first & 0xFF;
      if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
          std::chrono::steady_clock::now() >= deadline) {
        break;
      }
      if (!sqlite3_get_autocommit(db_.get()))
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      ::usleep(static_cast<useconds_t>(pause_ms) * 1000);
    }
    if (not_a_store) {
      if (detail)
        *detail = db_path_ + " is not a registry store";
      Disconnect();
      return kErrorBadDb;
    }
    if (outcome.first != SQLITE_OK)
      return fail(outcome.first, outcome.second);
  }

  rc = db_.PrepareStatements();
  if (rc != SQLITE_OK)
    return fail(rc, "cannot prepare the store's statements");
  return kErrorSuccess;
}

Status Store::Enter() {
  missing_base_ = kNullKey;
  if (!db_.is_open()) {
    std::string detail;
    Status status = OpenConnection(&detail);
    if (status != kErrorSuccess)
      Note("cannot use the registry store " + db_path_ + ": " + detail);
    return status;
  }
  CommitIfOld();
  return kErrorSuccess;
}

Status Store::Fail(int rc) {
  const Status status = FromSqlite(rc);
  // After some errors SQLite has rolled the transaction back by itself, and
  // with it the changes made so far.
  if (in_txn_ && sqlite3_get_autocommit(db_.get())) {
    if (HasChanges())
      LoseChanges(status, rc);
    EndTransaction();
  }
  if (status != kErrorGenFailure)
    NoteFailure(status, rc);
  return status;
}

void Store::Note(const std::string& text) {
  // Each problem once: a failing store would otherwise repeat it on every
  // call.
  if (!noted_.insert(text).second)
    return;
  std::string line = std::string(program_invocation_short_name) + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void Store::NoteFailure(Status status, int rc) {
  const char* reason = db_.ErrorText(rc);
  switch (status) {
    case kErrorBusy:
      Note("the registry store " + db_path_ + " is busy: another process holds it (" + reason +
           ")");
      break;
    case kErrorBadDb:
    case kErrorDiskFull:
    case kErrorIoDevice:
    case kErrorNotEnoughMemory:
    case kErrorAccessDenied:
      Note("the registry store " + db_path_ + " failed: " + reason);
      break;
    default:
      break;
  }
}

Status Store::RefuseReadOnly() {
  Note("the registry store " + db_path_ + " is read-only: nothing is written to it");
  return kErrorAccessDenied;
}

void Store::SyncToDisk() {
  // A commit reaches the log file without waiting for the disk; this is
  // where it is forced there.
  SyncFile(db_path_ + "-wal", false);
  SyncFile(db_path_, false);
  std::string::size_type slash = db_path_.rfind('/');
  if (slash != std::string::npos)
    SyncFile(slash == 0 ? "/" : db_path_.substr(0, slash), true);
}

}  // namespace regstore
