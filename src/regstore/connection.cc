#include "regstore/connection.h"

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
#include <thread>

#include "regstore/schema.h"
#include "regstore/vfs.h"

namespace regstore {

using namespace regdefs;

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

// Forces one of the files that the connection `db` has open (the store file,
// or with SQLITE_FCNTL_JOURNAL_POINTER its log) to the disk, through SQLite's
// own handle of it; answers 0 or an errno value. A file that is not open has
// nothing to force.
// The file must not be opened a second time for this: closing any
// descriptor of a file drops every lock the process holds on it, SQLite's
// included, and another program could then take the store for unused, move
// the log into the file and remove it under this connection.
int SyncOpenFile(sqlite3* db, int which) {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, "main", which, &file) != SQLITE_OK || !file || !file->pMethods)
    return 0;
  errno = 0;
  if (file->pMethods->xSync(file, SQLITE_SYNC_NORMAL) == SQLITE_OK)
    return 0;
  return errno != 0 ? errno : EIO;
}

// Forces a file that no connection has open, or a folder, to the disk;
// answers 0 or an errno value. A file that is not there has nothing to force.
int SyncFile(const std::string& path, bool folder) {
  int fd = ::open(path.c_str(), (folder ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT ? 0 : errno;
  const int rc = folder ? ::fsync(fd) : ::fdatasync(fd);
  const int error = rc == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

// A file name as SQLite takes it in a URI: the bytes that a URI gives a
// meaning of their own escaped.
std::string UriPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri;
  for (char c : path) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == '%' || byte == '?' || byte == '#' || byte <= 0x20 || byte >= 0x7F) {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    } else {
      uri += c;
    }
  }
  return uri;
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
std::string StoreConnection::Path() const {
  return path_override_.empty() ? DefaultStorePath() : path_override_;
}

void StoreConnection::UsePath(const std::string& path) {
  path_override_ = path;
  trouble_ = kErrorSuccess;
  open_status_ = kErrorSuccess;
  waited_ = {};
}

void StoreConnection::SetWaitLimit(std::uint32_t milliseconds) {
  wait_limit_ms_ = milliseconds;
  waited_ = {};
}

Status StoreConnection::Open(std::string* detail) {
  std::string reason;
  open_status_ = OpenStore(&reason);
  if (detail)
    *detail = reason;
  return open_status_;
}

int StoreConnection::OnBusy(void* connection, int count) {
  return static_cast<StoreConnection*>(connection)->WaitForLock(count) ? 1 : 0;
}

bool StoreConnection::WaitForLock(int count) {
  const std::chrono::steady_clock::duration limit = std::chrono::milliseconds(wait_limit_ms_);
  if (waited_ >= limit)
    return false;
  // Short pauses first, for a lock that is about to go, then longer ones.
  static const int kPausesMs[] = {1, 2, 5, 10, 15, 20, 25};
  const int pause_ms = count < 7 ? kPausesMs[count] : 50;
  const auto pause = std::min<std::chrono::steady_clock::duration>(
      std::chrono::milliseconds(pause_ms), limit - waited_);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(pause);
  waited_ += std::chrono::steady_clock::now() - start;
  return true;
}

bool StoreConnection::StoreFileReplaced() const {
  struct stat st;
  return ::stat(db_path_.c_str(), &st) != 0 || st.st_dev != store_device_ ||
         st.st_ino != store_inode_;
}

Status StoreConnection::RefuseReplaced() {
  if (trouble_ != kErrorBadDb && db_.is_open()) {
    // The log beside the path still holds this connection's commits, which
    // belong to the file it opened, not to the one now at the path: they are
    // moved into that file and the log is emptied. Closing the connection
    // then removes no file by its name.
    sqlite3_wal_checkpoint_v2(db_.get(), "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    int persist = 1;
    sqlite3_file_control(db_.get(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  }
  trouble_ = kErrorBadDb;
  Note("the registry store " + db_path_ +
       " was replaced or removed while in use: nothing more is written to it");
  return kErrorBadDb;
}

Status StoreConnection::CreateStoreFile(std::string* detail) {
  const std::string fresh = db_path_ + ".new-" + std::to_string(::getpid());
  ::unlink(fresh.c_str());
  Database db;
  int rc = db.Open(fresh, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                   StoreVfsName());
  if (rc == SQLITE_OK)
    rc = ConfigureStoreConnection(db.get());
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db.get(),
                      ("BEGIN IMMEDIATE;" + std::string(StoreSchemaSql()) +
                       "PRAGMA application_id=" + std::to_string(kStoreApplicationId) + ";COMMIT;")
                          .c_str(),
                      nullptr, nullptr, nullptr);
  }
  const std::string reason = db.ErrorText(rc);
  // Closing the only connection moves the log into the file and removes it.
  db.Close();
  Status status = kErrorSuccess;
  if (rc != SQLITE_OK) {
    if (detail)
      *detail = "cannot create the store: " + reason;
    status = FromSqlite(rc);
  } else {
    SyncFile(fresh, false);
    // Another program that made the store first wins; its store is used.
    if (::link(fresh.c_str(), db_path_.c_str()) != 0 && errno != EEXIST) {
      if (detail)
        *detail = "cannot create the store: " + std::string(std::strerror(errno));
      status = kErrorAccessDenied;
    }
  }
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    ::unlink((fresh + suffix).c_str());
  if (status == kErrorSuccess) {
    const std::string::size_type slash = db_path_.rfind('/');
    if (slash != std::string::npos)
      SyncFile(slash == 0 ? "/" : db_path_.substr(0, slash), true);
  }
  return status;
}

Status StoreConnection::OpenStore(std::string* detail) {
  db_path_ = Path();
  if (!MakeParentFolders(db_path_, detail))
    return kErrorAccessDenied;
  struct stat st;
  bool exists = ::stat(db_path_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    if (detail)
      *detail = db_path_ + " is not a file";
    return kErrorAccessDenied;
  }
  if (!exists) {
    const Status created = CreateStoreFile(detail);
    if (created != kErrorSuccess)
      return created;
    exists = ::stat(db_path_.c_str(), &st) == 0;
    if (!exists) {
      if (detail)
        *detail = db_path_ + " was removed as it was made";
      return kErrorAccessDenied;
    }
  }
  // Only the store file's owner writes to it (and root, whose files beside
  // it SQLite hands to the owner). Every other user only reads it, whatever
  // its mode says: the files that a writer makes beside the store would be
  // that user's, and the owner could no longer open the store. A file
  // without write permission refuses every write, also to root.
  const bool owner = st.st_uid == ::geteuid() || ::geteuid() == 0;
  read_only_ = !owner || ::access(db_path_.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
  if (!read_only_) {
    // Files of this user beside the store that a read-only run of an older
    // version left without write permission would refuse every write: they
    // get the store's mode again.
    for (const char* suffix : {"-wal", "-shm"}) {
      struct stat beside;
      const std::string name = db_path_ + suffix;
      if (::stat(name.c_str(), &beside) == 0 && beside.st_uid == ::geteuid() &&
          (beside.st_mode & 0200) == 0) {
        ::chmod(name.c_str(), st.st_mode & 0777);
      }
    }
  }
  const int open_flags = (read_only_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                         SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
  // A reader makes no file beside the store and changes none: it uses the
  // shared memory and the log of a writer as they are. Without the shared
  // memory of a writer, the store file is read as it stands (the changes of a
  // writer that was killed before they reached the file show once its owner
  // opens it again).
  std::string open_name = "file:" + UriPath(db_path_);
  if (read_only_) {
    struct stat shm;
    open_name +=
        ::stat((db_path_ + "-shm").c_str(), &shm) == 0 ? "?readonly_shm=1" : "?immutable=1";
  }

  auto fail = [&](int rc, const char* what) {
    if (detail) {
      *detail = std::string(what) + ": " + db_.ErrorText(rc);
    }
    db_.Close();
    return FromSqlite(rc);
  };

  ConfigureSqliteLibrary();
  // The file's identity is taken before SQLite opens it as well as after: a
  // store replaced in between would leave SQLite writing one file (and the
  // log beside it, which the other file shares) while the checks watch the
  // other.
  struct stat before;
  const bool existed = ::stat(db_path_.c_str(), &before) == 0;
  int rc = db_.Open(open_name, open_flags, StoreVfsName());
  if (rc != SQLITE_OK)
    return fail(rc, "cannot open the store");
  sqlite3_busy_handler(db_.get(), &StoreConnection::OnBusy, this);
  if (::stat(db_path_.c_str(), &st) != 0) {
    if (detail)
      *detail = db_path_ + " was removed as it was opened";
    db_.Close();
    return kErrorAccessDenied;
  }
  if (existed && (before.st_dev != st.st_dev || before.st_ino != st.st_ino)) {
    if (detail)
      *detail = db_path_ + " was replaced as it was opened";
    db_.Close();
    return kErrorBadDb;
  }
  store_device_ = st.st_dev;
  store_inode_ = st.st_ino;

  std::int64_t application_id = 0;
  std::int64_t object_count = 0;
  std::int64_t version = 0;
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

  // A store is made whole before it is put at its path: a file there without
  // the mark, even an empty one, is not a store of this program, and is left
  // exactly as it is.
  // A copy of a store restored from the shell's .dump has lost the mark
  // (and the version), but has the store's tables and nothing else: it is
  // a store, and gets the mark again when first opened for writing.
  auto is_store = [&]() {
    if (application_id == kStoreApplicationId)
      return SQLITE_OK;
    bool restored = false;
    const int result = IsRestoredStore(db_.get(), &restored);
    if (result == SQLITE_OK && restored)
      application_id = kStoreApplicationId;
    return result;
  };
  rc = read_identity();
  if (rc == SQLITE_OK)
    rc = is_store();
  if (rc != SQLITE_OK)
    return fail(rc, "cannot read the store");
  if (application_id != kStoreApplicationId) {
    if (detail)
      *detail = db_path_ + " is not a registry store";
    db_.Close();
    return kErrorBadDb;
  }
  if (read_only_) {
    // An older store is brought up to date by the first program that opens
    // it for writing; one that may only be read cannot be.
    rc = ReadStoreVersion(db_.get(), &version);
    if (rc != SQLITE_OK)
      return fail(rc, "cannot read the store");
    if (version < kStoreVersion) {
      if (detail) {
        *detail = db_path_ + " was made by an older version of the program (store version " +
                  std::to_string(version) +
                  "): its owner must open it for writing once (for instance with regstore add)"
                  " to bring it up to date before it can be read here";
      }
      db_.Close();
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
      std::int64_t marked = application_id;
      if (result == SQLITE_OK)
        result = is_store();
      if (result != SQLITE_OK)
        return {result, "cannot read the store"};
      if (application_id != kStoreApplicationId) {
        not_a_store = true;
        return {SQLITE_OK, nullptr};
      }
      result = SetUpStoreTables(db_.get(), &version);
      if (result == SQLITE_OK && version > kStoreVersion)
        return {SQLITE_OK, nullptr};
      if (result == SQLITE_OK && marked != kStoreApplicationId) {
        result = sqlite3_exec(
            db_.get(), ("PRAGMA application_id=" + std::to_string(kStoreApplicationId)).c_str(),
            nullptr, nullptr, nullptr);
      }
      if (result == SQLITE_OK)
        result = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
      return {result, "cannot set up the store"};
    };
    std::pair<int, const char*> outcome;
    for (int count = 0;; ++count) {
      outcome = set_up();
      const int primary = outcome.first & 0xFF;
      if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
        break;
      if (!sqlite3_get_autocommit(db_.get()))
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      if (!WaitForLock(count))
        break;
    }
    if (not_a_store) {
      if (detail)
        *detail = db_path_ + " is not a registry store";
      db_.Close();
      return kErrorBadDb;
    }
    if (outcome.first != SQLITE_OK)
      return fail(outcome.first, outcome.second);
  }
  if (version > kStoreVersion) {
    if (detail) {
      *detail = db_path_ + " was made by a newer version of the program (store version " +
                std::to_string(version) + "; this one knows versions up to " +
                std::to_string(kStoreVersion) + ")";
    }
    db_.Close();
    return kErrorBadDb;
  }

  rc = ConfigurePageCache(db_.get());
  if (rc == SQLITE_OK)
    rc = db_.PrepareStatements();
  if (rc != SQLITE_OK)
    return fail(rc, "cannot prepare the store's statements");
  return kErrorSuccess;
}

Status StoreConnection::StepDone(sqlite3_stmt* stmt) {
  StatementUse use(stmt);
  int rc = sqlite3_step(stmt);
  return rc == SQLITE_DONE ? kErrorSuccess : Fail(rc);
}

Status StoreConnection::Fail(int rc) {
  const Status status = FromSqlite(rc);
  // The store as a whole failed: the run cannot go on writing to it.
  if (status == kErrorBusy || status == kErrorDiskFull || status == kErrorBadDb ||
      status == kErrorIoDevice) {
    trouble_ = status;
  } else if ((rc & 0xFF) == SQLITE_READONLY) {
    trouble_ = kErrorWriteProtect;
  }
  // After some errors SQLite has rolled the write transaction back by
  // itself, and with it the changes made so far.
  if (observer_)
    observer_->StatementFailed(status, rc);
  if (status != kErrorGenFailure)
    NoteFailure(status, rc);
  return status;
}

void StoreConnection::Note(const std::string& text) {
  // Each problem once: a failing store would otherwise repeat it on every
  // call.
  if (!noted_.insert(text).second)
    return;
  std::string line = std::string(program_invocation_short_name) + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void StoreConnection::NoteFailure(Status status, int rc) {
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

Status StoreConnection::RefuseReadOnly() {
  Note("the registry store " + db_path_ + " is read-only: nothing is written to it");
  return kErrorAccessDenied;
}

Status StoreConnection::SyncToDisk() {
  // A commit reaches the log file without waiting for the disk; this is
  // where it is forced there.
  int error = SyncOpenFile(db_.get(), SQLITE_FCNTL_JOURNAL_POINTER);
  const int db_error = SyncOpenFile(db_.get(), SQLITE_FCNTL_FILE_POINTER);
  if (error == 0)
    error = db_error;
  std::string::size_type slash = db_path_.rfind('/');
  if (slash != std::string::npos) {
    const int folder_error = SyncFile(slash == 0 ? "/" : db_path_.substr(0, slash), true);
    if (error == 0)
      error = folder_error;
  }
  if (error == 0)
    return kErrorSuccess;
  Note("cannot force the registry store " + db_path_ + " to the disk: " + std::strerror(error));
  return error == ENOSPC || error == EDQUOT ? kErrorDiskFull : kErrorIoDevice;
}

void StoreConnection::BeginRead() {
  sqlite3_stmt* stmt = Statement(kBeginRead);
  in_read_ = sqlite3_step(stmt) == SQLITE_DONE;
  sqlite3_reset(stmt);
}

void StoreConnection::EndRead() {
  if (!in_read_)
    return;
  in_read_ = false;
  sqlite3_stmt* stmt = Statement(kCommit);
  sqlite3_step(stmt);
  sqlite3_reset(stmt);
}

}  // namespace regstore
