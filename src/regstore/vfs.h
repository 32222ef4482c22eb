// The file layer under the registry store's SQLite connection: the system's
// own, except that the writes of each commit to the write-ahead log reach
// the file in one call instead of two per page.
//
// SQLite appends a commit to the log as a 24-byte frame header and a page
// for every page changed, each with a write call of its own; for an import
// these calls are most of the program's time. Here the writes that follow
// one another in the log are gathered and written together once the commit
// frame (the last of a commit) is complete, before SQLite makes the commit
// visible to other connections and before its call returns: a failed write
// fails the commit as it would have before. Nothing else changes: every
// other operation on the log, and every operation on the database and its
// shared memory, first writes what is gathered.
#ifndef BREVLIN_REGSTORE_VFS_H_
#define BREVLIN_REGSTORE_VFS_H_

namespace regstore {

// Registers the file layer with SQLite (once; not as the default) and
// answers its name for sqlite3_open_v2, or null when it cannot be made (the
// store then uses SQLite's default).
const char* StoreVfsName();

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_VFS_H_
