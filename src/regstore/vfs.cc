#include "regstore/vfs.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace regstore {

namespace {

constexpr char kVfsName[] = "brevlin-store";

// A log frame begins with a header of this size, whose bytes 4 to 7 hold
// the database size after the commit in a commit frame and 0 in any other.
constexpr int kFrameHeaderSize = 24;
// The most that is gathered: a larger commit (or the pages that a large
// transaction spills before its commit) is written in several calls. The
// system's file layer takes at most 128 KiB in one write.
constexpr std::size_t kMaxGathered = 96 * 1024;

sqlite3_vfs* g_system = nullptr;  // the VFS underneath
sqlite3_vfs g_vfs;

struct File {
  sqlite3_file base;    // its methods are kMethods
  sqlite3_file* real;   // the system's file, in the same block after this
  bool is_log;          // the write-ahead log: its writes are gathered
  bool commit_pending;  // a commit frame's header was the last write
  sqlite3_int64 gathered_offset;
  std::vector<char>* gathered;
};

File* AsFile(sqlite3_file* file) {
  return reinterpret_cast<File*>(file);
}

const sqlite3_io_methods* Real(File* file) {
  return file->real->pMethods;
}

// Writes what is gathered, in one call.
int WriteGathered(File* file) {
  if (!file->gathered || file->gathered->empty())
    return SQLITE_OK;
  std::vector<char>& data = *file->gathered;
  int rc = Real(file)->xWrite(file->real, data.data(), static_cast<int>(data.size()),
                              file->gathered_offset);
  data.clear();
  file->commit_pending = false;
  return rc;
}

int Close(sqlite3_file* handle) {
  File* file = AsFile(handle);
  int rc = WriteGathered(file);
  int closed = Real(file)->xClose(file->real);
  delete file->gathered;
  file->gathered = nullptr;
  return rc != SQLITE_OK ? rc : closed;
}

int Read(sqlite3_file* handle, void* buffer, int amount, sqlite3_int64 offset) {
  File* file = AsFile(handle);
  int rc = WriteGathered(file);
  return rc != SQLITE_OK ? rc : Real(file)->xRead(file->real, buffer, amount, offset);
}

int Write(sqlite3_file* handle, const void* data, int amount, sqlite3_int64 offset) {
  File* file = AsFile(handle);
  if (!file->is_log)
    return Real(file)->xWrite(file->real, data, amount, offset);
  std::vector<char>& gathered = *file->gathered;
  const bool ends_commit = file->commit_pending;
  // A write that does not continue what is gathered (the log's header at
  // its start, a frame written again in place) comes after it, as it would
  // have without gathering.
  if (!gathered.empty() &&
      (offset != file->gathered_offset + static_cast<sqlite3_int64>(gathered.size()) ||
       gathered.size() + static_cast<std::size_t>(amount) > kMaxGathered)) {
    int rc = WriteGathered(file);
    if (rc != SQLITE_OK)
      return rc;
  }
  if (static_cast<std::size_t>(amount) > kMaxGathered) {
    file->commit_pending = false;
    return Real(file)->xWrite(file->real, data, amount, offset);
  }
  if (gathered.empty())
    file->gathered_offset = offset;
  const char* bytes = static_cast<const char*>(data);
  file->commit_pending = false;
  gathered.insert(gathered.end(), bytes, bytes + amount);
  if (amount == kFrameHeaderSize &&
      (bytes[4] != 0 || bytes[5] != 0 || bytes[6] != 0 || bytes[7] != 0)) {
    // The page of this commit frame comes next; after it the commit is
    // complete and is written before SQLite goes on to publish it.
    file->commit_pending = true;
    return SQLITE_OK;
  }
  if (ends_commit)
    return WriteGathered(file);
  return SQLITE_OK;
}

int Truncate(sqlite3_file* handle, sqlite3_int64 size) {
  File* file = AsFile(handle);
  int rc = WriteGathered(file);
  return rc != SQLITE_OK ? rc : Real(file)->xTruncate(file->real, size);
}

int Sync(sqlite3_file* handle, int flags) {
  File* file = AsFile(handle);
  int rc = WriteGathered(file);
  return rc != SQLITE_OK ? rc : Real(file)->xSync(file->real, flags);
}

int FileSize(sqlite3_file* handle, sqlite3_int64* size) {
  File* file = AsFile(handle);
  int rc = WriteGathered(file);
  return rc != SQLITE_OK ? rc : Real(file)->xFileSize(file->real, size);
}

int Lock(sqlite3_file* handle, int level) {
  File* file = AsFile(handle);
  return Real(file)->xLock(file->real, level);
}

int Unlock(sqlite3_file* handle, int level) {
  File* file = AsFile(handle);
  return Real(file)->xUnlock(file->real, level);
}

int CheckReservedLock(sqlite3_file* handle, int* reserved) {
  File* file = AsFile(handle);
  return Real(file)->xCheckReservedLock(file->real, reserved);
}

int FileControl(sqlite3_file* handle, int op, void* arg) {
  File* file = AsFile(handle);
  int rc = WriteGathered(file);
  return rc != SQLITE_OK ? rc : Real(file)->xFileControl(file->real, op, arg);
}

int SectorSize(sqlite3_file* handle) {
  File* file = AsFile(handle);
  return Real(file)->xSectorSize(file->real);
}

int DeviceCharacteristics(sqlite3_file* handle) {
  File* file = AsFile(handle);
  return Real(file)->xDeviceCharacteristics(file->real);
}

int ShmMap(sqlite3_file* handle, int region, int size, int extend, void volatile** memory) {
  File* file = AsFile(handle);
  return Real(file)->xShmMap(file->real, region, size, extend, memory);
}

int ShmLock(sqlite3_file* handle, int offset, int count, int flags) {
  File* file = AsFile(handle);
  return Real(file)->xShmLock(file->real, offset, count, flags);
}

void ShmBarrier(sqlite3_file* handle) {
  File* file = AsFile(handle);
  Real(file)->xShmBarrier(file->real);
}

int ShmUnmap(sqlite3_file* handle, int remove) {
  File* file = AsFile(handle);
  return Real(file)->xShmUnmap(file->real, remove);
}

int Fetch(sqlite3_file* handle, sqlite3_int64 offset, int amount, void** page) {
  File* file = AsFile(handle);
  return Real(file)->xFetch(file->real, offset, amount, page);
}

int Unfetch(sqlite3_file* handle, sqlite3_int64 offset, void* page) {
  File* file = AsFile(handle);
  return Real(file)->xUnfetch(file->real, offset, page);
}

// In the order of sqlite3_io_methods, version 3.
const sqlite3_io_methods kMethods = {
    3,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    Fetch,
    Unfetch,
};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* handle, int flags, int* out_flags) {
  File* file = AsFile(handle);
  file->base.pMethods = nullptr;
  file->real = reinterpret_cast<sqlite3_file*>(file + 1);
  file->is_log = (flags & SQLITE_OPEN_WAL) != 0;
  file->commit_pending = false;
  file->gathered_offset = 0;
  file->gathered = nullptr;
  int rc = g_system->xOpen(g_system, name, file->real, flags, out_flags);
  if (rc != SQLITE_OK || !file->real->pMethods)
    return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
  // The methods beyond those of the first version are passed on as they
  // are; the system's files have them all.
  if (file->real->pMethods->iVersion < kMethods.iVersion) {
    file->real->pMethods->xClose(file->real);
    return SQLITE_CANTOPEN;
  }
  if (file->is_log) {
    file->gathered = new (std::nothrow) std::vector<char>();
    if (!file->gathered) {
      file->real->pMethods->xClose(file->real);
      return SQLITE_NOMEM;
    }
  }
  file->base.pMethods = &kMethods;
  return SQLITE_OK;
}

int Delete(sqlite3_vfs*, const char* name, int sync_dir) {
  return g_system->xDelete(g_system, name, sync_dir);
}

int Access(sqlite3_vfs*, const char* name, int flags, int* result) {
  return g_system->xAccess(g_system, name, flags, result);
}

int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return g_system->xFullPathname(g_system, name, size, out);
}

void* DlOpen(sqlite3_vfs*, const char* name) {
  return g_system->xDlOpen(g_system, name);
}

void DlError(sqlite3_vfs*, int size, char* message) {
  g_system->xDlError(g_system, size, message);
}

void (*DlSym(sqlite3_vfs*, void* library, const char* symbol))(void) {
  return g_system->xDlSym(g_system, library, symbol);
}

void DlClose(sqlite3_vfs*, void* library) {
  g_system->xDlClose(g_system, library);
}

int Randomness(sqlite3_vfs*, int size, char* out) {
  return g_system->xRandomness(g_system, size, out);
}

int Sleep(sqlite3_vfs*, int microseconds) {
  return g_system->xSleep(g_system, microseconds);
}

int CurrentTime(sqlite3_vfs*, double* now) {
  return g_system->xCurrentTime(g_system, now);
}

int GetLastError(sqlite3_vfs*, int size, char* message) {
  return g_system->xGetLastError ? g_system->xGetLastError(g_system, size, message) : 0;
}

int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
  return g_system->xCurrentTimeInt64(g_system, now);
}

const char* Register() {
  if (sqlite3_initialize() != SQLITE_OK)
    return nullptr;
  g_system = sqlite3_vfs_find(nullptr);
  if (!g_system || g_system->iVersion < 2 || !g_system->xCurrentTimeInt64)
    return nullptr;
  g_vfs = sqlite3_vfs{};
  g_vfs.iVersion = 2;
  g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_system->szOsFile;
  g_vfs.mxPathname = g_system->mxPathname;
  g_vfs.zName = kVfsName;
  g_vfs.xOpen = Open;
  g_vfs.xDelete = Delete;
  g_vfs.xAccess = Access;
  g_vfs.xFullPathname = FullPathname;
  g_vfs.xDlOpen = DlOpen;
  g_vfs.xDlError = DlError;
  g_vfs.xDlSym = DlSym;
  g_vfs.xDlClose = DlClose;
  g_vfs.xRandomness = Randomness;
  g_vfs.xSleep = Sleep;
  g_vfs.xCurrentTime = CurrentTime;
  g_vfs.xGetLastError = GetLastError;
  g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  return sqlite3_vfs_register(&g_vfs, 0) == SQLITE_OK ? kVfsName : nullptr;
}

}  // namespace

const char* StoreVfsName() {
  static const char* const name = Register();
  return name;
}

}  // namespace regstore
