#include "platform/posix/store.h"

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
#include <optional>
#include <thread>

#include "platform/posix/store_schema.h"
#include "platform/posix/store_vfs.h"

namespace plat {
namespace posix {

namespace {

constexpr RegKey kRootKeys[] = {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers,
                                kHkeyCurrentConfig};

// Longest key name and value name, in bytes, and the deepest key below a
// root key, in levels.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxValueNameLength = 16383;

// Standard and generic access rights that RegOpenKeyExA accepts.
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kWriteDac = 0x00040000;
constexpr std::uint32_t kWriteOwner = 0x00080000;
constexpr std::uint32_t kMaximumAllowed = 0x02000000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kKeyWow64Flags = 0x0300;

// The rights that a protected key or a read-only store refuses.
constexpr std::uint32_t kWriteRights =
    kKeySetValue | kKeyCreateSubKey | kKeyCreateLink | kDelete | kWriteDac | kWriteOwner;

// A transaction is committed at the next call once it is this old, so that a
// process that keeps a changed key open does not hold the write lock for long.
constexpr std::chrono::milliseconds kMaxTransactionAge(200);

const char* const kStatementSql[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id, flags, name FROM keys WHERE parent = ?1 AND name = ?2",
    "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
    "SELECT parent, flags FROM keys WHERE id = ?1",
    "UPDATE vals SET type = ?3, data = ?4 WHERE key = ?1 AND name = ?2",
    "INSERT OR IGNORE INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)",
    "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2",
    "DELETE FROM vals WHERE key = ?1 AND name = ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY name",
    "UPDATE keys SET flags = (flags | ?2) & ~?3 WHERE id = ?1",
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
    " SELECT 1 FROM keys WHERE id IN sub AND (flags & 1) != 0 LIMIT 1",
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
    " DELETE FROM vals WHERE key IN sub",
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
    " DELETE FROM keys WHERE id IN sub AND id > 5",
};

// Resets a statement when the code that stepped it is done with it, so that
// no statement keeps a read transaction open between calls.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StatementUse() { sqlite3_reset(stmt_); }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
};

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
              : std::string();
}

Status FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kErrorSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kErrorBusy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return kErrorAccessDenied;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA:
      return kErrorBadDb;
    case SQLITE_FULL:
      return kErrorDiskFull;
    case SQLITE_IOERR:
      return kErrorIoDevice;
    case SQLITE_NOMEM:
      return kErrorNotEnoughMemory;
    default:
      return kErrorGenFailure;
  }
}

// Splits a sub-path into key names. Empty names (from doubled or trailing
// backslashes) are skipped, as the Windows registry does; a leading backslash
// is refused unless `allow_leading_backslash`. A path of more names than any
// key can lie deep is refused before it costs more.
Status SplitPath(std::string_view path, bool allow_leading_backslash,
                 std::vector<std::string_view>* names) {
  names->clear();
  if (!path.empty() && path[0] == '\\' && !allow_leading_backslash)
    return kErrorBadPathname;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (end > start) {
      if (end - start > kMaxKeyNameLength || names->size() == kMaxKeyDepth)
        return kErrorInvalidParameter;
      names->push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return kErrorSuccess;
}

std::uint32_t NormalizeAccess(std::uint32_t access) {
  access &= ~kKeyWow64Flags;
  if (access & kGenericRead)
    access |= kKeyRead;
  if (access & kGenericExecute)
    access |= kKeyRead;
  if (access & kGenericWrite)
    access |= kKeyWrite;
  if (access & kGenericAll)
    access |= kKeyAllAccess;
  return access & ~(kGenericRead | kGenericExecute | kGenericWrite | kGenericAll);
}

// Names compare without regard to ASCII letter case: they are folded to
// lower case where they serve as keys of this process's own maps.
char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FoldCase(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    c = FoldAscii(c);
  return folded;
}

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

Store& Store::Instance() {
  // Destroyed after main returns, which commits what is still pending.
  static Store store;
  return store;
}

Store::Store() {
  for (int i = 0; i < kRootCount; ++i) {
    roots_[i].key_id = kFirstRootId + i;
    roots_[i].access = kKeyAllAccess;
  }
}

Store::~Store() {
  std::lock_guard<std::mutex> lock(mutex_);
  Commit();
  Disconnect();
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
  trouble_ = kErrorSuccess;
  open_status_ = kErrorSuccess;
  waited_ = {};
}

void Store::SetWaitLimit(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  wait_limit_ms_ = milliseconds;
  waited_ = {};
}

Status Store::Connect(std::string* detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_)
    return kErrorSuccess;
  return OpenConnection(detail);
}

bool Store::ReadOnly() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_ && OpenConnection(nullptr) != kErrorSuccess)
    return true;
  return read_only_;
}

Status Store::State() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_)
    return open_status_ != kErrorSuccess ? open_status_ : OpenConnection(nullptr);
  if (trouble_ != kErrorSuccess)
    return trouble_;
  if (lost_changes_ != kErrorSuccess)
    return lost_changes_;
  return read_only_ ? kErrorWriteProtect : kErrorSuccess;
}

int Store::OnBusy(void* store, int count) {
  return static_cast<Store*>(store)->WaitForLock(count);
}

int Store::WaitForLock(int count) {
  const std::chrono::steady_clock::duration limit = std::chrono::milliseconds(wait_limit_ms_);
  if (waited_ >= limit)
    return 0;
  // Short pauses first, for a lock that is about to go, then longer ones.
  static const int kPausesMs[] = {1, 2, 5, 10, 15, 20, 25};
  const int pause_ms = count < 7 ? kPausesMs[count] : 50;
  const auto pause = std::min<std::chrono::steady_clock::duration>(
      std::chrono::milliseconds(pause_ms), limit - waited_);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(pause);
  waited_ += std::chrono::steady_clock::now() - start;
  return 1;
}

bool Store::StoreFileReplaced() const {
  struct stat st;
  return ::stat(db_path_.c_str(), &st) != 0 || st.st_dev != store_device_ ||
         st.st_ino != store_inode_;
}

Status Store::RefuseReplaced() {
  if (trouble_ != kErrorBadDb && db_) {
    // The log beside the path still holds this connection's commits, which
    // belong to the file it opened, not to the one now at the path: they are
    // moved into that file and the log is emptied. Closing the connection
    // then removes no file by its name.
    sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  }
  trouble_ = kErrorBadDb;
  Note("the registry store " + db_path_ +
       " was replaced or removed while in use: nothing more is written to it");
  return kErrorBadDb;
}

void Store::Disconnect() {
  for (sqlite3_stmt*& stmt : statements_) {
    sqlite3_finalize(stmt);
    stmt = nullptr;
  }
  for (sqlite3_stmt* stmt : chain_statements_)
    sqlite3_finalize(stmt);
  chain_statements_.clear();
  if (db_)
    sqlite3_close(db_);
  db_ = nullptr;
  in_txn_ = false;
  EndTransaction();
  ForgetKeys();
  cache_synced_ = false;
}

Status Store::OpenConnection(std::string* detail) {
  std::string reason;
  open_status_ = OpenStore(&reason);
  if (detail)
    *detail = reason;
  return open_status_;
}

Status Store::CreateStoreFile(std::string* detail) {
  const std::string fresh = db_path_ + ".new-" + std::to_string(::getpid());
  ::unlink(fresh.c_str());
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(fresh.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           StoreVfsName());
  if (rc == SQLITE_OK)
    rc = ConfigureStoreConnection(db);
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db,
                      ("BEGIN IMMEDIATE;" + std::string(kStoreSchemaSql) +
                       "PRAGMA application_id=" + std::to_string(kStoreApplicationId) + ";COMMIT;")
                          .c_str(),
                      nullptr, nullptr, nullptr);
  }
  const std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  // Closing the only connection moves the log into the file and removes it.
  if (sqlite3_close(db) != SQLITE_OK && rc == SQLITE_OK)
    rc = SQLITE_IOERR;
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

Status Store::OpenStore(std::string* detail) {
  db_path_ = PathLocked();
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
  std::string open_name = db_path_;
  int open_flags = (read_only_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                   SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
  // A reader makes no file beside the store and changes none: it uses the
  // shared memory and the log of a writer as they are. Without the shared
  // memory of a writer, the store file is read as it stands (the changes of a
  // writer that was killed before they reached the file show once its owner
  // opens it again).
  open_name = "file:" + UriPath(db_path_);
  if (read_only_) {
    struct stat shm;
    open_name +=
        ::stat((db_path_ + "-shm").c_str(), &shm) == 0 ? "?readonly_shm=1" : "?immutable=1";
  }

  auto fail = [&](int rc, const char* what) {
    if (detail) {
      *detail = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    }
    Disconnect();
    return FromSqlite(rc);
  };

  ConfigureSqliteLibrary();
  int rc = sqlite3_open_v2(open_name.c_str(), &db_, open_flags, StoreVfsName());
  if (rc != SQLITE_OK)
    return fail(rc, "cannot open the store");
  sqlite3_busy_handler(db_, &Store::OnBusy, this);
  if (::stat(db_path_.c_str(), &st) != 0) {
    if (detail)
      *detail = db_path_ + " was removed as it was opened";
    Disconnect();
    return kErrorAccessDenied;
  }
  store_device_ = st.st_dev;
  store_inode_ = st.st_ino;

  std::int64_t application_id = 0;
  std::int64_t object_count = 0;
  auto read_identity = [&]() {
    sqlite3_stmt* stmt = nullptr;
    int result = sqlite3_prepare_v2(
        db_,
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
  rc = read_identity();
  if (rc != SQLITE_OK)
    return fail(rc, "cannot read the store");
  if (application_id != kStoreApplicationId) {
    if (detail)
      *detail = db_path_ + " is not a registry store";
    Disconnect();
    return kErrorBadDb;
  }
  if (!read_only_) {
    // Programs that meet at a new store all try to set it up. Switching it to
    // the write-ahead log takes a lock that SQLite does not wait for, so a
    // set-up that finds the store busy is tried again, within the wait limit.
    bool not_a_store = false;
    auto set_up = [&]() -> std::pair<int, const char*> {
      int result = ConfigureStoreConnection(db_);
      if (result != SQLITE_OK)
        return {result, "cannot set up the store"};
      result = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      if (result != SQLITE_OK)
        return {result, "cannot set up the store"};
      result = read_identity();
      if (result != SQLITE_OK)
        return {result, "cannot read the store"};
      if (application_id != kStoreApplicationId) {
        not_a_store = true;
        return {SQLITE_OK, nullptr};
      }
      result = sqlite3_exec(db_, kStoreSchemaSql, nullptr, nullptr, nullptr);
      if (result == SQLITE_OK && application_id == 0) {
        result = sqlite3_exec(
            db_, ("PRAGMA application_id=" + std::to_string(kStoreApplicationId)).c_str(), nullptr,
            nullptr, nullptr);
      }
      if (result == SQLITE_OK)
        result = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
      return {result, "cannot set up the store"};
    };
    std::pair<int, const char*> outcome;
    for (int count = 0;; ++count) {
      outcome = set_up();
      const int primary = outcome.first & 0xFF;
      if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
        break;
      if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      if (!WaitForLock(count))
        break;
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

  for (int i = 0; i < kStatementCount; ++i) {
    rc = sqlite3_prepare_v3(db_, kStatementSql[i], -1, SQLITE_PREPARE_PERSISTENT, &statements_[i],
                            nullptr);
    if (rc != SQLITE_OK)
      return fail(rc, "cannot prepare the store's statements");
  }
  return kErrorSuccess;
}

Status Store::Enter() {
  missing_base_ = kNullKey;
  if (!db_) {
    std::string detail;
    Status status = OpenConnection(&detail);
    if (status != kErrorSuccess)
      Note("cannot use the registry store " + db_path_ + ": " + detail);
    return status;
  }
  if (in_txn_ && std::chrono::steady_clock::now() - txn_start_ > kMaxTransactionAge)
    Commit();
  return kErrorSuccess;
}

Status Store::Fail(int rc) {
  const Status status = FromSqlite(rc);
  // The store as a whole failed: the run cannot go on writing to it.
  if (status == kErrorBusy || status == kErrorDiskFull || status == kErrorBadDb ||
      status == kErrorIoDevice) {
    trouble_ = status;
  } else if ((rc & 0xFF) == SQLITE_READONLY) {
    trouble_ = kErrorWriteProtect;
  }
  // After some errors SQLite has rolled the transaction back by itself, and
  // with it the changes made so far.
  if (in_txn_ && sqlite3_get_autocommit(db_)) {
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
  const char* reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
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

Status Store::CheckDepth(std::int64_t base_id, std::size_t names) {
  std::size_t depth = names;
  for (std::int64_t id = base_id; id < kFirstRootId || id > kLastRootId;) {
    std::int64_t parent = 0;
    std::uint32_t flags = 0;
    Status status = KeyRow(id, &parent, &flags);
    if (status != kErrorSuccess)
      return status;
    if (++depth > kMaxKeyDepth)
      return kErrorInvalidParameter;
    id = parent;
  }
  return depth > kMaxKeyDepth ? kErrorInvalidParameter : kErrorSuccess;
}

bool Store::IsRoot(RegKey key) const {
  for (RegKey root : kRootKeys) {
    if (key == root)
      return true;
  }
  return false;
}

Store::Handle* Store::Resolve(RegKey key) {
  if (key == kNullKey)
    return nullptr;
  for (int i = 0; i < kRootCount; ++i) {
    if (key == kRootKeys[i])
      return &roots_[i];
  }
  auto it = handles_.find(key);
  return it == handles_.end() ? nullptr : &it->second;
}

void Store::MarkDirty(Handle* handle) {
  handle->dirty_txn = txn_id_;
}

Status Store::StepDone(sqlite3_stmt* stmt) {
  StatementUse use(stmt);
  int rc = sqlite3_step(stmt);
  return rc == SQLITE_DONE ? kErrorSuccess : Fail(rc);
}

class Store::ReadScope {
 public:
  explicit ReadScope(Store* store) : store_(store), began_(!store->in_read_ && !store->in_txn_) {
    if (began_)
      store_->BeginRead();
  }
  ~ReadScope() {
    if (began_)
      store_->EndRead();
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  Store* store_;
  bool began_;
};

void Store::BeginRead() {
  sqlite3_stmt* stmt = Statement(kBeginRead);
  in_read_ = sqlite3_step(stmt) == SQLITE_DONE;
  sqlite3_reset(stmt);
}

void Store::EndRead() {
  if (!in_read_)
    return;
  in_read_ = false;
  sqlite3_stmt* stmt = Statement(kCommit);
  sqlite3_step(stmt);
  sqlite3_reset(stmt);
}

Status Store::Begin() {
  if (in_txn_)
    return kErrorSuccess;
  // A read transaction is not upgraded, since another process may have
  // written since it began; the write transaction starts afresh.
  EndRead();
  if (StoreFileReplaced())
    return RefuseReplaced();
  Status status = StepDone(Statement(kBegin));
  if (status != kErrorSuccess)
    return status;
  in_txn_ = true;
  txn_start_ = std::chrono::steady_clock::now();
  SyncKeyCache();
  return kErrorSuccess;
}

void Store::EndTransaction() {
  // Keys created in a transaction that did not commit are not in the store.
  if (keys_changed_)
    ForgetKeys();
  // The transaction began with the cache in line with its snapshot, and no
  // other connection could write while it held the write lock: the cache
  // matches the store as this transaction leaves it, whose data version
  // moves on with the commit.
  if (cache_synced_ && db_)
    cache_version_ = DataVersion();
  keys_changed_ = false;
  in_txn_ = false;
  ++txn_id_;
  lasting_changes_ = 0;
  fresh_values_.clear();
  verified_keys_.clear();
}

Status Store::Commit() {
  if (!in_txn_)
    return kErrorSuccess;
  const bool changed = HasChanges();
  // Changes are never committed into a file that no longer is the store.
  if (changed && StoreFileReplaced()) {
    sqlite3_step(Statement(kRollback));
    sqlite3_reset(Statement(kRollback));
    EndTransaction();
    const Status status = RefuseReplaced();
    LoseChanges(status, SQLITE_NOTADB);
    return status;
  }
  sqlite3_stmt* stmt = Statement(changed ? kCommit : kRollback);
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE && !sqlite3_get_autocommit(db_)) {
    sqlite3_step(Statement(kRollback));
    sqlite3_reset(Statement(kRollback));
  }
  if (rc == SQLITE_DONE)
    keys_changed_ = false;
  EndTransaction();
  if (rc == SQLITE_DONE)
    return kErrorSuccess;
  const Status status = FromSqlite(rc);
  if (changed)
    LoseChanges(status, rc);
  return status;
}

void Store::LoseChanges(Status status, int rc) {
  // The changes are gone, and a commit is often a close whose answer no
  // caller looks at. Every later change is refused, so that the writer
  // learns of it at its next write instead of going on as if all were
  // stored.
  lost_changes_ = status == kErrorSuccess ? kErrorGenFailure : status;
  Note("changes to the registry store " + db_path_ + " were lost: " + sqlite3_errstr(rc));
}

bool Store::HasChanges() const {
  return lasting_changes_ != 0 || !fresh_values_.empty();
}

void Store::ReleaseIfUnchanged() {
  if (in_txn_ && !HasChanges())
    Commit();
}

Status Store::BeginWrite() {
  if (read_only_)
    return RefuseReadOnly();
  if (trouble_ != kErrorSuccess)
    return trouble_;
  if (lost_changes_ != kErrorSuccess)
    return lost_changes_;
  return Begin();
}

Status Store::BeginValueChange(RegKey key, const Handle& handle) {
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  status = BeginWrite();
  if (status != kErrorSuccess)
    return status;
  std::uint32_t flags = 0;
  status = VerifiedFlags(handle.key_id, &flags);
  if (status == kErrorSuccess && (flags & kKeyValuesLocked))
    status = kErrorAccessDenied;
  // A root key handle is never opened, so its protection is checked here.
  if (status == kErrorSuccess && IsRoot(key) && (flags & kKeyProtected))
    status = kErrorAccessDenied;
  if (status != kErrorSuccess)
    ReleaseIfUnchanged();
  return status;
}

RegKey Store::AddHandle(std::int64_t key_id, std::uint32_t access) {
  const RegKey handle = next_handle_;
  next_handle_ += 4;
  handles_[handle] = Handle{key_id, access, 0};
  return handle;
}

Status Store::LookupChild(std::int64_t parent, std::string_view name, std::int64_t* id,
                          std::uint32_t* flags, std::string* stored_name) {
  StatementUse use(Statement(kFindChild));
  sqlite3_bind_int64(use.get(), 1, parent);
  BindText(use.get(), 2, name);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE)
    return kErrorFileNotFound;
  if (rc != SQLITE_ROW)
    return Fail(rc);
  *id = sqlite3_column_int64(use.get(), 0);
  *flags = static_cast<std::uint32_t>(sqlite3_column_int64(use.get(), 1));
  if (stored_name)
    *stored_name = ColumnText(use.get(), 2);
  return kErrorSuccess;
}

Status Store::KeyRow(std::int64_t id, std::int64_t* parent, std::uint32_t* flags) {
  StatementUse use(Statement(kKeyById));
  sqlite3_bind_int64(use.get(), 1, id);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE)
    return kErrorKeyDeleted;
  if (rc != SQLITE_ROW)
    return Fail(rc);
  *parent = sqlite3_column_int64(use.get(), 0);
  *flags = static_cast<std::uint32_t>(sqlite3_column_int64(use.get(), 1));
  return kErrorSuccess;
}

Status Store::ProtectedFrom(std::int64_t id, bool* is_protected) {
  *is_protected = false;
  while (id != 0) {
    std::int64_t parent = 0;
    std::uint32_t flags = 0;
    Status status = KeyRow(id, &parent, &flags);
    if (status != kErrorSuccess)
      return status;
    if (flags & kKeyProtected) {
      *is_protected = true;
      return kErrorSuccess;
    }
    id = parent;
  }
  return kErrorSuccess;
}

Status Store::VerifiedFlags(std::int64_t id, std::uint32_t* flags) {
  auto it = verified_keys_.find(id);
  if (it != verified_keys_.end()) {
    *flags = it->second;
    return kErrorSuccess;
  }
  // The cache is in line with the write transaction since its start.
  auto cached = cached_flags_.find(id);
  if (in_txn_ && cached != cached_flags_.end()) {
    *flags = cached->second;
    verified_keys_.emplace(id, *flags);
    return kErrorSuccess;
  }
  std::int64_t parent = 0;
  Status status = KeyRow(id, &parent, flags);
  if (status != kErrorSuccess)
    return status;
  verified_keys_.emplace(id, *flags);
  return kErrorSuccess;
}

Status Store::MissingKeyStatus(std::int64_t id) {
  std::int64_t parent = 0;
  std::uint32_t flags = 0;
  Status status = KeyRow(id, &parent, &flags);
  return status == kErrorSuccess ? kErrorFileNotFound : status;
}

std::uint32_t Store::DataVersion() {
  unsigned int version = 0;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

void Store::SyncKeyCache() {
  const std::uint32_t version = DataVersion();
  if (!cache_synced_ || version != cache_version_)
    ForgetKeys();
  cache_version_ = version;
  cache_synced_ = true;
}

void Store::ForgetKeys() {
  key_cache_.clear();
  old_key_cache_.clear();
  cached_flags_.clear();
  ++key_epoch_;
}

namespace {

// The cache's key for a name below a parent: the parent id's bytes, then the
// name folded to lower case.
void CacheKeyOf(std::int64_t parent, std::string_view name, std::string* key) {
  key->assign(reinterpret_cast<const char*>(&parent), sizeof(parent));
  key->append(name.data(), name.size());
  for (std::size_t i = sizeof(parent); i < key->size(); ++i)
    (*key)[i] = FoldAscii((*key)[i]);
}

}  // namespace

const Store::CachedKey* Store::CachedChild(std::int64_t parent, std::string_view name) {
  CacheKeyOf(parent, name, &cache_probe_);
  auto it = key_cache_.find(cache_probe_);
  if (it != key_cache_.end())
    return &it->second;
  auto old = old_key_cache_.find(cache_probe_);
  if (old == old_key_cache_.end())
    return nullptr;
  const CachedKey key = old->second;
  old_key_cache_.erase(old);
  return &Remember(key);
}

void Store::CacheChild(std::int64_t parent, std::string_view name, std::int64_t id,
                       std::uint32_t flags) {
  if (!cache_synced_)
    return;
  CacheKeyOf(parent, name, &cache_probe_);
  old_key_cache_.erase(cache_probe_);
  Remember(CachedKey{id, flags});
  CacheFlags(id, flags);
}

void Store::CacheFlags(std::int64_t id, std::uint32_t flags) {
  if (!cache_synced_)
    return;
  if (cached_flags_.size() >= 2 * kKeyCacheGeneration)
    cached_flags_.clear();
  cached_flags_[id] = flags;
}

Store::CachedKey& Store::Remember(const CachedKey& key) {
  if (key_cache_.size() >= kKeyCacheGeneration) {
    old_key_cache_.swap(key_cache_);
    key_cache_.clear();
  }
  return key_cache_[cache_probe_] = key;
}

Status Store::Walk(std::int64_t base, const std::vector<std::string_view>& names,
                   std::size_t* found, std::int64_t* id, std::uint32_t* flags, bool* any_protected,
                   std::uint32_t* base_flags, std::string* stored_path) {
  *found = 0;
  *id = base;
  *flags = 0;
  *any_protected = false;
  *base_flags = 0;
  if (stored_path) {
    stored_path->clear();
    return WalkInStore(base, names, 0, found, id, flags, any_protected, base_flags, stored_path);
  }

  // The base's row starts the transaction's snapshot, against which the
  // cache is checked; the names then come from the cache as far as it goes.
  std::int64_t parent = 0;
  Status status = KeyRow(base, &parent, base_flags);
  if (status != kErrorSuccess)
    return status;
  SyncKeyCache();
  CacheFlags(base, *base_flags);
  *flags = *base_flags;
  for (std::string_view name : names) {
    const CachedKey* child = CachedChild(*id, name);
    if (!child)
      break;
    *id = child->id;
    *flags = child->flags;
    if (child->flags & kKeyProtected)
      *any_protected = true;
    ++*found;
  }
  if (*found == names.size())
    return kErrorSuccess;
  std::uint32_t ignored = 0;
  return WalkInStore(*id, names, *found, found, id, flags, any_protected, &ignored, nullptr);
}

Status Store::WalkInStore(std::int64_t base, const std::vector<std::string_view>& names,
                          std::size_t first, std::size_t* found, std::int64_t* id,
                          std::uint32_t* flags, bool* any_protected, std::uint32_t* base_flags,
                          std::string* stored_path) {
  auto take = [&](std::int64_t child, std::uint32_t child_flags, std::string_view stored_name) {
    if (!stored_path)
      CacheChild(*id, names[*found], child, child_flags);
    *id = child;
    *flags = child_flags;
    if (child_flags & kKeyProtected)
      *any_protected = true;
    if (stored_path) {
      if (!stored_path->empty())
        *stored_path += '\\';
      *stored_path += stored_name;
    }
    ++*found;
  };
  const std::size_t depth = names.size() - first;

  sqlite3_stmt* chain = depth == 0 ? nullptr : ChainStatement(depth);
  if (!chain) {
    // The base, then one name after the other.
    std::int64_t parent = 0;
    Status status = KeyRow(base, &parent, base_flags);
    if (status != kErrorSuccess)
      return status;
    *flags = *base_flags;
    std::string stored_name;
    for (std::size_t i = first; i < names.size(); ++i) {
      std::int64_t child = 0;
      std::uint32_t child_flags = 0;
      status =
          LookupChild(*id, names[i], &child, &child_flags, stored_path ? &stored_name : nullptr);
      if (status == kErrorFileNotFound)
        return kErrorSuccess;
      if (status != kErrorSuccess)
        return status;
      take(child, child_flags, stored_name);
    }
    return kErrorSuccess;
  }

  // The rest of the path in one statement: the base row and one outer join
  // per name, each an index lookup.
  StatementUse use(chain);
  sqlite3_bind_int64(chain, 1, base);
  for (std::size_t i = 0; i < depth; ++i)
    BindText(chain, static_cast<int>(i) + 2, names[first + i]);
  int rc = sqlite3_step(chain);
  if (rc == SQLITE_DONE)
    return kErrorKeyDeleted;
  if (rc != SQLITE_ROW)
    return Fail(rc);
  *base_flags = static_cast<std::uint32_t>(sqlite3_column_int64(chain, 0));
  for (std::size_t i = 0; i < depth; ++i) {
    const int column = 1 + 3 * static_cast<int>(i);
    if (sqlite3_column_type(chain, column) == SQLITE_NULL)
      break;
    const char* stored_name = reinterpret_cast<const char*>(sqlite3_column_text(chain, column + 2));
    take(sqlite3_column_int64(chain, column),
         static_cast<std::uint32_t>(sqlite3_column_int64(chain, column + 1)),
         stored_name ? std::string_view(stored_name, static_cast<std::size_t>(
                                                         sqlite3_column_bytes(chain, column + 2)))
                     : std::string_view());
  }
  return kErrorSuccess;
}

sqlite3_stmt* Store::ChainStatement(std::size_t depth) {
  if (depth > kMaxChainDepth)
    return nullptr;
  if (chain_statements_.size() <= depth)
    chain_statements_.resize(depth + 1, nullptr);
  sqlite3_stmt*& stmt = chain_statements_[depth];
  if (!stmt) {
    std::string sql = "SELECT b.flags";
    std::string joins;
    for (std::size_t i = 1; i <= depth; ++i) {
      const std::string k = "k" + std::to_string(i);
      sql += ", " + k + ".id, " + k + ".flags, " + k + ".name";
      joins += " LEFT JOIN keys AS " + k + " ON " + k +
               ".parent = " + (i == 1 ? std::string("b") : "k" + std::to_string(i - 1)) +
               ".id AND " + k + ".name = ?" + std::to_string(i + 1);
    }
    sql += " FROM keys AS b" + joins + " WHERE b.id = ?1";
    if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
        SQLITE_OK) {
      stmt = nullptr;
    }
  }
  return stmt;
}

Status Store::BaseRefusesWrites(std::int64_t base_id, std::uint32_t base_flags, bool* refuses) {
  *refuses = (base_flags & kKeyProtected) != 0;
  // A root key has nothing above it.
  if (*refuses || (base_id >= kFirstRootId && base_id <= kLastRootId))
    return kErrorSuccess;
  return ProtectedFrom(base_id, refuses);
}

Status Store::OpenKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result)
    return kErrorInvalidParameter;
  *result = kNullKey;
  Handle* handle = Resolve(base);
  if (!handle)
    return kErrorInvalidHandle;
  std::vector<std::string_view> names;
  Status status = SplitPath(sub_key ? sub_key : "", false, &names);
  if (status != kErrorSuccess)
    return status;
  status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(this);

  access = NormalizeAccess(access);
  const std::int64_t base_id = handle->key_id;
  std::size_t found = 0;
  std::int64_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t base_flags = 0;
  bool is_protected = false;
  status = Walk(base_id, names, &found, &id, &flags, &is_protected, &base_flags, nullptr);
  if (status != kErrorSuccess)
    return status;
  if (found < names.size()) {
    missing_base_ = base;
    missing_path_ = sub_key;
    missing_walk_ = WalkResult{found, id, flags, is_protected, base_flags, key_epoch_};
    return kErrorFileNotFound;
  }

  bool refuses_writes = read_only_ || is_protected;
  if (!refuses_writes && (access & (kWriteRights | kMaximumAllowed))) {
    status = BaseRefusesWrites(base_id, base_flags, &refuses_writes);
    if (status != kErrorSuccess)
      return status;
  }
  if (access & kMaximumAllowed) {
    access = (access & ~kMaximumAllowed) | (refuses_writes ? kKeyRead : kKeyAllAccess);
  }
  if ((access & kWriteRights) && read_only_)
    return RefuseReadOnly();
  if ((access & kWriteRights) && refuses_writes)
    return kErrorAccessDenied;

  *result = AddHandle(id, access);
  return kErrorSuccess;
}

Status Store::CreateKey(RegKey base, const char* sub_key, std::uint32_t access, RegKey* result,
                        std::uint32_t* disposition) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result)
    return kErrorInvalidParameter;
  *result = kNullKey;
  Handle* handle = Resolve(base);
  if (!handle)
    return kErrorInvalidHandle;
  std::vector<std::string_view> names;
  Status status = SplitPath(sub_key ? sub_key : "", false, &names);
  if (status != kErrorSuccess)
    return status;
  // A create that follows a failed open of the same key (as a write probe
  // does) goes straight to the write transaction, which looks again anyway.
  const bool likely_missing = !names.empty() && missing_base_ == base && missing_path_ == sub_key;
  const WalkResult missing_walk = missing_walk_;
  status = Enter();
  if (status != kErrorSuccess)
    return status;
  // The lookups share one snapshot; a write transaction ends it. A key that
  // is likely missing is looked up in the write transaction only.
  std::optional<ReadScope> read;
  if (!likely_missing)
    read.emplace(this);

  access = NormalizeAccess(access);
  const std::int64_t base_id = handle->key_id;
  std::size_t found = 0;
  std::int64_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t base_flags = 0;
  bool is_protected = false;
  if (!likely_missing) {
    status = Walk(base_id, names, &found, &id, &flags, &is_protected, &base_flags, nullptr);
    if (status != kErrorSuccess)
      return status;
  }

  bool created = false;
  bool refuses_writes = read_only_ || is_protected;
  if (found < names.size()) {
    // Look again inside the write transaction: another process may have
    // created or deleted keys on the way since. After a failed open of the
    // same key, with no change to the keys since (no other connection
    // wrote, and no transaction of this one was undone), what that open
    // found holds.
    status = BeginWrite();
    if (status != kErrorSuccess)
      return status;
    if (likely_missing && missing_walk.key_epoch == key_epoch_) {
      found = missing_walk.found;
      id = missing_walk.id;
      flags = missing_walk.flags;
      is_protected = missing_walk.any_protected;
      base_flags = missing_walk.base_flags;
    } else {
      status = Walk(base_id, names, &found, &id, &flags, &is_protected, &base_flags, nullptr);
    }
    refuses_writes = is_protected;
    if (status == kErrorSuccess && !refuses_writes)
      status = BaseRefusesWrites(base_id, base_flags, &refuses_writes);
    // Creating a key needs write access to the key above it.
    if (status == kErrorSuccess && found < names.size() && refuses_writes)
      status = kErrorAccessDenied;
    if (status == kErrorSuccess && found < names.size())
      status = CheckDepth(base_id, names.size());
    for (std::size_t i = found; status == kErrorSuccess && i < names.size(); ++i) {
      StatementUse use(Statement(kInsertKey));
      sqlite3_bind_int64(use.get(), 1, id);
      BindText(use.get(), 2, names[i]);
      int rc = sqlite3_step(use.get());
      if (rc != SQLITE_DONE) {
        status = Fail(rc);
        break;
      }
      const std::int64_t parent = id;
      id = sqlite3_last_insert_rowid(db_);
      flags = 0;
      created = true;
      ++lasting_changes_;
      keys_changed_ = true;
      CacheChild(parent, names[i], id, flags);
    }
    if (status != kErrorSuccess) {
      ReleaseIfUnchanged();
      return status;
    }
  } else if (!refuses_writes && (access & (kWriteRights | kMaximumAllowed))) {
    status = BaseRefusesWrites(base_id, base_flags, &refuses_writes);
    if (status != kErrorSuccess)
      return status;
  }

  if (access & kMaximumAllowed) {
    access = (access & ~kMaximumAllowed) | (refuses_writes ? kKeyRead : kKeyAllAccess);
  }
  if (!created && (access & kWriteRights) && refuses_writes) {
    ReleaseIfUnchanged();
    return read_only_ ? RefuseReadOnly() : kErrorAccessDenied;
  }
  const RegKey new_handle = AddHandle(id, access);
  if (created)
    MarkDirty(&handles_[new_handle]);
  ReleaseIfUnchanged();
  *result = new_handle;
  if (disposition)
    *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return kErrorSuccess;
}

Status Store::SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  if (!(handle->access & kKeySetValue))
    return kErrorAccessDenied;
  const std::string_view value_name = name ? name : "";
  if (value_name.size() > kMaxValueNameLength)
    return kErrorInvalidParameter;
  if (!data && size != 0)
    return kErrorNoAccess;
  if (size > 0x7FFFFFFFu)
    return kErrorInvalidParameter;
  Status status = BeginValueChange(key, *handle);
  if (status != kErrorSuccess)
    return status;

  // A new value is inserted; an existing one is updated in place, which
  // keeps its position among the key's values.
  static const std::uint8_t kEmpty = 0;
  auto store_row = [&](StatementId statement) {
    StatementUse use(Statement(statement));
    sqlite3_bind_int64(use.get(), 1, handle->key_id);
    BindText(use.get(), 2, value_name);
    sqlite3_bind_int64(use.get(), 3, type);
    // Data longer than the store takes is refused here; bound as nothing, it
    // would be skipped by the insert without a word.
    int bound = sqlite3_bind_blob(use.get(), 4, data ? data : &kEmpty, static_cast<int>(size),
                                  SQLITE_STATIC);
    return bound == SQLITE_OK ? sqlite3_step(use.get()) : bound;
  };
  int rc = store_row(kInsertValue);
  const bool inserted = rc == SQLITE_DONE && sqlite3_changes(db_) != 0;
  if (rc == SQLITE_DONE && !inserted)
    rc = store_row(kUpdateValue);
  if (rc != SQLITE_DONE) {
    status = Fail(rc);
    ReleaseIfUnchanged();
    return status;
  }
  auto fresh = std::make_pair(handle->key_id, FoldCase(value_name));
  if (inserted) {
    fresh_values_.insert(std::move(fresh));
  } else if (fresh_values_.count(fresh) == 0) {
    ++lasting_changes_;
  }
  MarkDirty(handle);
  return kErrorSuccess;
}

Status Store::QueryValue(RegKey key, const char* name, const std::uint32_t* reserved,
                         std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  if (reserved || (data && !size))
    return kErrorInvalidParameter;
  if (!(handle->access & kKeyQueryValue))
    return kErrorAccessDenied;
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;

  StatementUse use(Statement(kFindValue));
  sqlite3_bind_int64(use.get(), 1, handle->key_id);
  BindText(use.get(), 2, name ? name : "");
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE) {
    sqlite3_reset(use.get());
    return MissingKeyStatus(handle->key_id);
  }
  if (rc != SQLITE_ROW)
    return Fail(rc);
  const std::uint32_t length = static_cast<std::uint32_t>(sqlite3_column_bytes(use.get(), 1));
  if (type)
    *type = static_cast<std::uint32_t>(sqlite3_column_int64(use.get(), 0));
  if (data) {
    if (*size < length) {
      *size = length;
      return kErrorMoreData;
    }
    if (length != 0)
      std::memcpy(data, sqlite3_column_blob(use.get(), 1), length);
  }
  if (size)
    *size = length;
  return kErrorSuccess;
}

Status Store::DeleteValue(RegKey key, const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  if (!(handle->access & kKeySetValue))
    return kErrorAccessDenied;
  Status status = BeginValueChange(key, *handle);
  if (status != kErrorSuccess)
    return status;

  const std::string_view value_name = name ? name : "";
  {
    StatementUse use(Statement(kDeleteValue));
    sqlite3_bind_int64(use.get(), 1, handle->key_id);
    BindText(use.get(), 2, value_name);
    int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE) {
      status = Fail(rc);
    } else if (sqlite3_changes(db_) == 0) {
      status = kErrorFileNotFound;
    }
  }
  if (status == kErrorSuccess) {
    if (fresh_values_.erase(std::make_pair(handle->key_id, FoldCase(value_name))) == 0) {
      ++lasting_changes_;
    }
    MarkDirty(handle);
  }
  ReleaseIfUnchanged();
  return status;
}

Status Store::Flush(RegKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  status = Commit();
  if (!read_only_) {
    // A commit reaches the log file without waiting for the disk; this is
    // where it is forced there.
    SyncFile(db_path_ + "-wal", false);
    SyncFile(db_path_, false);
    std::string::size_type slash = db_path_.rfind('/');
    if (slash != std::string::npos)
      SyncFile(slash == 0 ? "/" : db_path_.substr(0, slash), true);
  }
  if (status != kErrorSuccess)
    return status;
  std::int64_t parent = 0;
  std::uint32_t flags = 0;
  return KeyRow(handle->key_id, &parent, &flags);
}

Status Store::Close(RegKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  Status status = kErrorSuccess;
  if (in_txn_ && handle->dirty_txn == txn_id_)
    status = Commit();
  // Root key handles are predefined; closing one changes nothing else.
  if (!IsRoot(key))
    handles_.erase(key);
  return status;
}

Status Store::Find(RegKey key, const std::string& path, std::int64_t* id, StoreKeyInfo* info) {
  Handle* handle = Resolve(key);
  if (!handle)
    return kErrorInvalidHandle;
  std::vector<std::string_view> names;
  Status status = SplitPath(path, true, &names);
  if (status != kErrorSuccess)
    return status;
  std::size_t found = 0;
  std::uint32_t flags = 0;
  std::uint32_t base_flags = 0;
  bool is_protected = false;
  std::string stored_path;
  status =
      Walk(handle->key_id, names, &found, id, &flags, &is_protected, &base_flags, &stored_path);
  if (status != kErrorSuccess)
    return status;
  if (found < names.size())
    return kErrorFileNotFound;
  if (info) {
    info->flags = flags;
    info->path = stored_path;
  }
  return kErrorSuccess;
}

Status Store::FindKey(RegKey key, const std::string& path, StoreKeyInfo* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(this);
  std::int64_t id = 0;
  return Find(key, path, &id, info);
}

template <typename TakeRow>
Status Store::ListRows(RegKey key, const std::string& path, StatementId statement,
                       TakeRow take_row) {
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  ReadScope read(this);
  std::int64_t id = 0;
  status = Find(key, path, &id, nullptr);
  if (status != kErrorSuccess)
    return status;
  StatementUse use(Statement(statement));
  sqlite3_bind_int64(use.get(), 1, id);
  int rc;
  while ((rc = sqlite3_step(use.get())) == SQLITE_ROW)
    take_row(use.get());
  return rc == SQLITE_DONE ? kErrorSuccess : Fail(rc);
}

Status Store::ListValues(RegKey key, const std::string& path, std::vector<StoreValue>* values) {
  std::lock_guard<std::mutex> lock(mutex_);
  values->clear();
  return ListRows(key, path, kListValues, [values](sqlite3_stmt* row) {
    StoreValue value;
    value.name = ColumnText(row, 0);
    value.type = static_cast<std::uint32_t>(sqlite3_column_int64(row, 1));
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, 2));
    value.data.assign(bytes, bytes + sqlite3_column_bytes(row, 2));
    values->push_back(std::move(value));
  });
}

Status Store::ListSubkeys(RegKey key, const std::string& path, std::vector<std::string>* names) {
  std::lock_guard<std::mutex> lock(mutex_);
  names->clear();
  return ListRows(key, path, kListSubkeys,
                  [names](sqlite3_stmt* row) { names->push_back(ColumnText(row, 0)); });
}

Status Store::ChangeKeyFlags(RegKey key, const std::string& path, std::uint32_t set,
                             std::uint32_t clear) {
  std::lock_guard<std::mutex> lock(mutex_);
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  if (read_only_)
    return kErrorAccessDenied;
  if (trouble_ != kErrorSuccess)
    return trouble_;
  status = Begin();
  if (status != kErrorSuccess)
    return status;
  std::int64_t id = 0;
  status = Find(key, path, &id, nullptr);
  if (status == kErrorSuccess) {
    StatementUse use(Statement(kSetFlags));
    sqlite3_bind_int64(use.get(), 1, id);
    sqlite3_bind_int64(use.get(), 2, set);
    sqlite3_bind_int64(use.get(), 3, clear);
    int rc = sqlite3_step(use.get());
    if (rc == SQLITE_DONE) {
      ++lasting_changes_;
      verified_keys_.erase(id);
      keys_changed_ = true;
      ForgetKeys();
    } else {
      status = Fail(rc);
    }
  }
  if (status != kErrorSuccess) {
    ReleaseIfUnchanged();
    return status;
  }
  return Commit();
}

Status Store::DeleteTree(RegKey key, const std::string& path, bool even_protected) {
  std::lock_guard<std::mutex> lock(mutex_);
  Status status = Enter();
  if (status != kErrorSuccess)
    return status;
  if (read_only_)
    return kErrorAccessDenied;
  if (trouble_ != kErrorSuccess)
    return trouble_;
  status = Begin();
  if (status != kErrorSuccess)
    return status;
  std::int64_t id = 0;
  status = Find(key, path, &id, nullptr);
  if (status == kErrorSuccess && !even_protected) {
    bool is_protected = false;
    status = ProtectedFrom(id, &is_protected);
    if (status == kErrorSuccess && !is_protected) {
      StatementUse use(Statement(kProtectedBelow));
      sqlite3_bind_int64(use.get(), 1, id);
      int rc = sqlite3_step(use.get());
      if (rc == SQLITE_ROW) {
        is_protected = true;
      } else if (rc != SQLITE_DONE) {
        status = Fail(rc);
      }
    }
    if (status == kErrorSuccess && is_protected)
      status = kErrorAccessDenied;
  }
  for (StatementId statement : {kDeleteTreeValues, kDeleteTreeKeys}) {
    if (status != kErrorSuccess)
      break;
    StatementUse use(Statement(statement));
    sqlite3_bind_int64(use.get(), 1, id);
    int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE)
      status = Fail(rc);
  }
  if (status != kErrorSuccess) {
    ReleaseIfUnchanged();
    return status;
  }
  ++lasting_changes_;
  verified_keys_.clear();
  keys_changed_ = true;
  ForgetKeys();
  return Commit();
}

}  // namespace posix
}  // namespace plat
