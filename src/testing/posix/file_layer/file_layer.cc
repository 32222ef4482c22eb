// The test file layer: a library that the fault tests preload into a
// program under test (LD_PRELOAD) and set up through the environment. It
// sees every write, truncation, sync and removal that the program makes of
// the files of one store (the store file and the files beside it that SQLite
// names after it, but not the shared memory file, which holds nothing that
// must survive), and can
// - fail the Nth write or the Nth sync with EIO, or every one from there on;
// - keep an undo journal of those changes (power_cut.h), shared by every
//   program that runs with it, and cut the power at the Nth change: undo a
//   random part of what was not synced, then die at once by SIGKILL, as a
//   machine stops;
// - stop the program before the Nth change, so that a test can change the
//   store under it or kill it there;
// - report at its end how many writes and syncs it saw, so that a test can
//   pick a point among them.
// It is built only with the tests and never linked into a program.
//
// Environment:
//   BREVLIN_FAULT_FILES    the store file whose files are watched
//   BREVLIN_FAULT_WRITE    N: the Nth write fails with EIO
//   BREVLIN_FAULT_SYNC     N: the Nth sync (fsync, fdatasync) fails with EIO
//   BREVLIN_FAULT_PERSIST  set: every write or sync after that one fails too
//   BREVLIN_FAULT_JOURNAL  the undo journal to append to
//   BREVLIN_FAULT_CUT      N: the power is cut before the Nth change
//   BREVLIN_FAULT_STOP     N: the program stops itself (SIGSTOP) before the
//                          Nth change, for the test to act while it waits
//   BREVLIN_FAULT_STOP_OPEN  set: the program stops itself once it has first
//                          opened the store file
//   BREVLIN_FAULT_SEED     the seed that chooses what a cut undoes
//   BREVLIN_FAULT_REPORT   a file that receives "writes W syncs S changes C cut K"
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>

#include "testing/posix/power_cut.h"

namespace {

using WriteFunction = ssize_t (*)(int, const void*, size_t);
using PwriteFunction = ssize_t (*)(int, const void*, size_t, off_t);
using SyncFunction = int (*)(int);
using TruncateFunction = int (*)(int, off_t);
using UnlinkFunction = int (*)(const char*);
using OpenFunction = int (*)(const char*, int, ...);

struct Layer {
  bool watching = false;
  char files[PATH_MAX] = {};       // as the environment names them
  char files_real[PATH_MAX] = {};  // with the folder's links resolved
  long fail_write = 0;
  long fail_sync = 0;
  bool persist = false;
  int journal = -1;
  char journal_path[PATH_MAX] = {};
  long cut_at = 0;
  long stop_at = 0;
  bool stop_at_open = false;
  std::uint64_t seed = 0;
  char report[PATH_MAX] = {};
  long writes = 0;
  long syncs = 0;
  long changes = 0;
  bool reported = false;
  WriteFunction real_write = nullptr;
  PwriteFunction real_pwrite = nullptr;
  PwriteFunction real_pwrite64 = nullptr;
  SyncFunction real_fsync = nullptr;
  SyncFunction real_fdatasync = nullptr;
  TruncateFunction real_ftruncate = nullptr;
  TruncateFunction real_ftruncate64 = nullptr;
  UnlinkFunction real_unlink = nullptr;
  OpenFunction real_open = nullptr;
  OpenFunction real_open64 = nullptr;
};

Layer g_layer;
// While the layer itself writes (the journal, a cut), the thread's calls go
// straight to the system.
thread_local bool t_bypass = false;
pthread_once_t g_once = PTHREAD_ONCE_INIT;
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

long EnvNumber(const char* name) {
  const char* value = getenv(name);
  return value ? atol(value) : 0;
}

void CopyEnv(const char* name, char* to) {
  const char* value = getenv(name);
  if (value && strlen(value) < PATH_MAX)
    strcpy(to, value);
}

// Writes a, b and c one after the other to `to`; the caller has checked
// that they fit.
void Join(char* to, const char* a, const char* b, const char* c) {
  const size_t na = strlen(a), nb = strlen(b), nc = strlen(c);
  memcpy(to, a, na);
  memcpy(to + na, b, nb);
  memcpy(to + na + nb, c, nc + 1);
}

void Start() {
  Layer& l = g_layer;
  l.real_write = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
  l.real_pwrite = reinterpret_cast<PwriteFunction>(dlsym(RTLD_NEXT, "pwrite"));
  l.real_pwrite64 = reinterpret_cast<PwriteFunction>(dlsym(RTLD_NEXT, "pwrite64"));
  l.real_fsync = reinterpret_cast<SyncFunction>(dlsym(RTLD_NEXT, "fsync"));
  l.real_fdatasync = reinterpret_cast<SyncFunction>(dlsym(RTLD_NEXT, "fdatasync"));
  l.real_ftruncate = reinterpret_cast<TruncateFunction>(dlsym(RTLD_NEXT, "ftruncate"));
  l.real_ftruncate64 = reinterpret_cast<TruncateFunction>(dlsym(RTLD_NEXT, "ftruncate64"));
  l.real_unlink = reinterpret_cast<UnlinkFunction>(dlsym(RTLD_NEXT, "unlink"));
  l.real_open = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"));
  l.real_open64 = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open64"));
  CopyEnv("BREVLIN_FAULT_FILES", l.files);
  if (l.files[0] != '\0') {
    // The folder with its links resolved, as /proc names open files.
    char folder[PATH_MAX];
    strcpy(folder, l.files);
    char* slash = strrchr(folder, '/');
    char resolved[PATH_MAX];
    if (slash && slash != folder) {
      *slash = '\0';
      if (realpath(folder, resolved) &&
          strlen(resolved) + strlen(slash + 1) + 2 < sizeof(l.files_real)) {
        Join(l.files_real, resolved, "/", slash + 1);
      }
    }
    if (l.files_real[0] == '\0')
      strcpy(l.files_real, l.files);
    l.watching = true;
  }
  l.fail_write = EnvNumber("BREVLIN_FAULT_WRITE");
  l.fail_sync = EnvNumber("BREVLIN_FAULT_SYNC");
  l.persist = getenv("BREVLIN_FAULT_PERSIST") != nullptr;
  l.cut_at = EnvNumber("BREVLIN_FAULT_CUT");
  l.stop_at = EnvNumber("BREVLIN_FAULT_STOP");
  l.stop_at_open = getenv("BREVLIN_FAULT_STOP_OPEN") != nullptr;
  const char* seed = getenv("BREVLIN_FAULT_SEED");
  l.seed = seed ? static_cast<std::uint64_t>(strtoull(seed, nullptr, 10)) : 0;
  CopyEnv("BREVLIN_FAULT_REPORT", l.report);
  CopyEnv("BREVLIN_FAULT_JOURNAL", l.journal_path);
  if (l.journal_path[0] != '\0')
    l.journal = l.real_open(l.journal_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

Layer& L() {
  pthread_once(&g_once, Start);
  return g_layer;
}

// Whether `path` is one of the watched files.
bool Watched(const char* path) {
  const Layer& l = g_layer;
  const char* const names[] = {l.files_real, l.files};
  for (const char* files : names) {
    const size_t n = strlen(files);
    if (n == 0 || strncmp(path, files, n) != 0)
      continue;
    if (path[n] == '\0')
      return true;
    if (path[n] == '-' && strcmp(path + n, "-shm") != 0 && strchr(path + n, '/') == nullptr)
      return true;
  }
  return false;
}

// The path of the open file `fd` when it is watched.
bool WatchedFd(int fd, char* path) {
  if (!g_layer.watching || t_bypass || fd == g_layer.journal)
    return false;
  char link[64];
  snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, PATH_MAX - 1);
  if (n <= 0)
    return false;
  path[n] = '\0';
  return Watched(path);
}

void WriteReport(bool cut) {
  Layer& l = g_layer;
  if (l.report[0] == '\0' || l.reported)
    return;
  l.reported = true;
  char line[160];
  const int n = snprintf(line, sizeof(line), "writes %ld syncs %ld changes %ld cut %d\n", l.writes,
                         l.syncs, l.changes, cut ? 1 : 0);
  const int fd = open(l.report, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) {
    l.real_write(fd, line, static_cast<size_t>(n));
    close(fd);
  }
}

// Counts a change to a watched file; stops the program or cuts the power
// when it is the one chosen. Called with the mutex held.
void CountChange() {
  Layer& l = g_layer;
  ++l.changes;
  if (l.changes == l.stop_at)
    kill(getpid(), SIGSTOP);
  if (l.changes != l.cut_at)
    return;
  t_bypass = true;
  WriteReport(true);
  if (l.journal >= 0)
    testing_support::CutPower(l.journal_path, l.seed);
  kill(getpid(), SIGKILL);
  _exit(137);  // not reached
}

bool ShouldFail(long count, long chosen) {
  return chosen > 0 && (count == chosen || (g_layer.persist && count > chosen));
}

std::int64_t SizeOf(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

// Reads `size` bytes at `offset` of the file open at `fd` (named `path`),
// through a reading descriptor of its own where `fd` is open for writing only.
bool ReadOld(int fd, const char* path, void* to, std::int64_t size, std::int64_t offset) {
  if (pread(fd, to, static_cast<size_t>(size), offset) == static_cast<ssize_t>(size))
    return true;
  const int reader = open(path, O_RDONLY | O_CLOEXEC);
  if (reader < 0)
    return false;
  const bool read =
      pread(reader, to, static_cast<size_t>(size), offset) == static_cast<ssize_t>(size);
  close(reader);
  return read;
}

// Journals the bytes that a write of `length` at `offset` overwrites.
void JournalWrite(int fd, const char* path, std::int64_t offset, std::int64_t length) {
  Layer& l = g_layer;
  if (l.journal < 0)
    return;
  const std::int64_t old_size = SizeOf(fd);
  std::int64_t saved = old_size - offset;
  if (saved > length)
    saved = length;
  if (saved < 0)
    saved = 0;
  void* old_bytes = saved > 0 ? malloc(static_cast<size_t>(saved)) : nullptr;
  if (saved > 0 && (!old_bytes || !ReadOld(fd, path, old_bytes, saved, offset))) {
    saved = 0;
  }
  t_bypass = true;
  testing_support::AppendJournalRecord(l.journal, testing_support::JournalRecord::kWrite, path,
                                       offset, length, old_size, old_bytes, saved);
  t_bypass = false;
  free(old_bytes);
}

// What a write to a watched file does before it is made: false (with errno)
// when it is to fail.
bool BeforeWrite(int fd, std::int64_t offset, size_t length) {
  char path[PATH_MAX];
  if (!WatchedFd(fd, path))
    return true;
  pthread_mutex_lock(&g_mutex);
  CountChange();
  const bool fail = ShouldFail(++g_layer.writes, g_layer.fail_write);
  if (!fail)
    JournalWrite(fd, path, offset, static_cast<std::int64_t>(length));
  pthread_mutex_unlock(&g_mutex);
  if (fail)
    errno = EIO;
  return !fail;
}

int Sync(int fd, SyncFunction real) {
  char path[PATH_MAX];
  if (!WatchedFd(fd, path))
    return real(fd);
  pthread_mutex_lock(&g_mutex);
  CountChange();
  const bool fail = ShouldFail(++g_layer.syncs, g_layer.fail_sync);
  int rc = -1;
  if (!fail) {
    rc = real(fd);
    if (rc == 0 && g_layer.journal >= 0) {
      t_bypass = true;
      testing_support::AppendJournalRecord(g_layer.journal, testing_support::JournalRecord::kSync,
                                           path, 0, 0, SizeOf(fd), nullptr, 0);
      t_bypass = false;
    }
  }
  pthread_mutex_unlock(&g_mutex);
  if (fail)
    errno = EIO;
  return rc;
}

int Truncate(int fd, off_t length, TruncateFunction real) {
  char path[PATH_MAX];
  if (!WatchedFd(fd, path))
    return real(fd, length);
  pthread_mutex_lock(&g_mutex);
  CountChange();
  if (g_layer.journal >= 0) {
    const std::int64_t old_size = SizeOf(fd);
    std::int64_t saved = old_size > length ? old_size - length : 0;
    void* old_bytes = saved > 0 ? malloc(static_cast<size_t>(saved)) : nullptr;
    if (saved > 0 && (!old_bytes || !ReadOld(fd, path, old_bytes, saved, length))) {
      saved = 0;
    }
    t_bypass = true;
    testing_support::AppendJournalRecord(g_layer.journal, testing_support::JournalRecord::kTruncate,
                                         path, length, 0, old_size, old_bytes, saved);
    t_bypass = false;
    free(old_bytes);
  }
  pthread_mutex_unlock(&g_mutex);
  return real(fd, length);
}

int Open(OpenFunction real, const char* path, int flags, mode_t mode) {
  const int fd = real(path, flags, mode);
  Layer& l = g_layer;
  if (fd >= 0 && l.stop_at_open && !t_bypass &&
      (strcmp(path, l.files) == 0 || strcmp(path, l.files_real) == 0)) {
    l.stop_at_open = false;
    kill(getpid(), SIGSTOP);
  }
  return fd;
}

__attribute__((destructor)) void Finish() {
  if (g_layer.watching)
    WriteReport(false);
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t length) {
  Layer& l = L();
  if (l.watching && !t_bypass) {
    const int flags = fcntl(fd, F_GETFL);
    const off_t at =
        flags >= 0 && (flags & O_APPEND) ? lseek(fd, 0, SEEK_END) : lseek(fd, 0, SEEK_CUR);
    if (at >= 0 && !BeforeWrite(fd, at, length))
      return -1;
  }
  return l.real_write(fd, data, length);
}

ssize_t pwrite(int fd, const void* data, size_t length, off_t offset) {
  Layer& l = L();
  if (l.watching && !t_bypass && !BeforeWrite(fd, offset, length))
    return -1;
  return l.real_pwrite(fd, data, length, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t length, off_t offset) {
  Layer& l = L();
  if (l.watching && !t_bypass && !BeforeWrite(fd, offset, length))
    return -1;
  return l.real_pwrite64(fd, data, length, offset);
}

int fsync(int fd) {
  return Sync(fd, L().real_fsync);
}

int fdatasync(int fd) {
  return Sync(fd, L().real_fdatasync);
}

int ftruncate(int fd, off_t length) {
  return Truncate(fd, length, L().real_ftruncate);
}

int ftruncate64(int fd, off_t length) {
  return Truncate(fd, length, L().real_ftruncate64);
}

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  return Open(L().real_open, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  return Open(L().real_open64, path, flags, mode);
}

int unlink(const char* path) {
  Layer& l = L();
  if (!l.watching || t_bypass || !Watched(path))
    return l.real_unlink(path);
  pthread_mutex_lock(&g_mutex);
  CountChange();
  const int rc = l.real_unlink(path);
  if (rc == 0 && l.journal >= 0) {
    char resolved[PATH_MAX];
    const char* name = path;
    if (strncmp(path, l.files, strlen(l.files)) == 0 &&
        strlen(l.files_real) + strlen(path + strlen(l.files)) < sizeof(resolved)) {
      Join(resolved, l.files_real, "", path + strlen(l.files));
      name = resolved;
    }
    t_bypass = true;
    testing_support::AppendJournalRecord(l.journal, testing_support::JournalRecord::kRemove, name,
                                         0, 0, 0, nullptr, 0);
    t_bypass = false;
  }
  pthread_mutex_unlock(&g_mutex);
  return rc;
}

}  // extern "C"
