// The write transaction of the store: changes are collected in one
// transaction, begun by the first change after a commit, and the commit
// happens only at these points of Store:
//   CommitIfHandleDirty  a handle that made a change in the transaction is
//                        closed;
//   Commit               a handle is flushed (which then forces the commit to
//                        the disk), an owner's operation ends, the process
//                        switches to another store file, the process ends;
//   CommitIfOld          the next call comes once the transaction is older
//                        than kMaxTransactionAge.
// A transaction whose changes cancel out (a value created and deleted again,
// as a write probe does) is rolled back instead (ReleaseIfUnchanged), which
// costs nothing on disk.
#ifndef BREVLIN_REGSTORE_WRITE_BATCH_H_
#define BREVLIN_REGSTORE_WRITE_BATCH_H_

#include <chrono>

namespace regstore {

// A transaction is committed at the next call once it is this old, so that a
// process that keeps a changed key open does not hold the write lock for long.
constexpr std::chrono::milliseconds kMaxTransactionAge(200);

}  // namespace regstore

#endif  // BREVLIN_REGSTORE_WRITE_BATCH_H_
