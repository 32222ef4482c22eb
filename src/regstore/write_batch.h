// The write transaction of the store: changes are collected in one
// transaction, begun by the first change after a commit, and committed in
// groups. Every commit happens at one of these points of Store:
//   CloseChanged   a handle that made a change in the transaction is closed
//                  and no other such handle is open (a group boundary): the
//                  group is committed once it is kGroupAge old or has
//                  changed kGroupKeys keys;
//   CommitIfDue    the next call comes at a group boundary, or no call comes
//                  (the thread of CommitGroups), once the group is due;
//   CommitPending  the program is about to wait: read a file, show a
//                  message, sleep (FlushPendingWrites);
//   Commit         a handle is flushed (which then forces the commit to the
//                  disk), an owner's operation ends, the process switches
//                  to another store file, the process ends.
// Only CommitPending and a flush may commit while a handle that made a change
// is still open; a writer that closes each key before it waits has each
// key's changes committed together. What a kill leaves is a whole number of
// groups. A transaction whose changes cancel out (a value created and deleted
// again, as a write probe does) is rolled back instead (ReleaseIfUnchanged),
// which costs nothing on disk.
#ifndef BREVLIN_REGSTORE_WRITE_BATCH_H_
#define BREVLIN_REGSTORE_WRITE_BATCH_H_

#include <chrono>
#include <cstdint>

namespace regstore {

// A group is due once it is this old or has changed this many keys.
constexpr std::chrono::milliseconds kGroupAge(50);
constexpr std::uint64_t kGroupKeys = 1000;

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_WRITE_BATCH_H_
