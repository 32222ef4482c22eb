// A power cut for the tests, modelled on a disk that keeps what a program
// synced and, of what it wrote since, any part or none.
//
// The test file layer (file_layer/file_layer.cc, preloaded into a program)
// keeps an undo journal: before each write, truncation, sync or removal of a
// watched file it appends a record to the journal, and for a write or a
// truncation the bytes that the change overwrites and the file's length
// before it. Several programs run one after the other (or at once) may share
// one journal, so that a cut also drops what an earlier program wrote and
// never synced. A cut undoes, file by file, a random choice of the changes
// made since that file's last sync: each 512-byte sector of a write, each
// truncation as a whole, and the growth of the file since the sync.
//
// Written without the C++ library: the same code runs inside the programs
// under test, which carry their own copy of it.
#ifndef BREVLIN_TESTING_POSIX_POWER_CUT_H_
#define BREVLIN_TESTING_POSIX_POWER_CUT_H_

#include <cstdint>

namespace testing_support {

// The kinds of journal records.
enum class JournalRecord : std::uint32_t {
  kWrite = 1,     // a write: offset and length, the file's length, the bytes it overwrote
  kTruncate = 2,  // a truncation to `offset`: the file's length, the bytes it cut off
  kSync = 3,      // the file reached the disk as it is now
  kRemove = 4,    // the file was removed: what came before concerns another file
};

// Appends a record to the journal open at `fd` in one write, so that records
// of several programs never mix. `saved` bytes of `old_bytes` go with it.
// False when it could not be written whole.
bool AppendJournalRecord(int fd, JournalRecord kind, const char* path, std::int64_t offset,
                         std::int64_t length, std::int64_t old_size, const void* old_bytes,
                         std::int64_t saved);

// Cuts the power: undoes a random part of the unsynced changes that the
// journal `journal` records, chosen by `seed`, in the files themselves. The
// seed also sets the share of the changes undone: seed % 5 quarters, so 0
// keeps everything a program wrote and 4 drops all that it did not sync. Answers
// how many changes (sectors, truncations, growths) were undone, or -1 when
// the journal cannot be read.
long CutPower(const char* journal, std::uint64_t seed);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_POSIX_POWER_CUT_H_
