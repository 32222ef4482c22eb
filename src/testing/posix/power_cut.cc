#include "testing/posix/power_cut.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace testing_support {

namespace {

constexpr std::uint32_t kMagic = 0x4A435554;  // "TUCJ"
constexpr std::int64_t kSector = 512;

struct RecordHead {
  std::uint32_t magic;
  std::uint32_t kind;
  std::int64_t offset;
  std::int64_t length;
  std::int64_t old_size;
  std::int64_t saved;
  std::uint32_t path_length;
  std::uint32_t reserved;
};

struct Record {
  RecordHead head;
  const char* path;
  const unsigned char* old_bytes;
};

std::uint64_t Next(std::uint64_t* state) {
  std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Whether to undo one change, with the cut's share of undone changes out of
// four.
bool Undo(std::uint64_t* state, unsigned quarters) {
  return Next(state) % 4 < quarters;
}

bool SamePath(const Record& a, const Record& b) {
  return a.head.path_length == b.head.path_length &&
         std::memcmp(a.path, b.path, a.head.path_length) == 0;
}

bool IsMarker(const Record& r) {
  return r.head.kind == static_cast<std::uint32_t>(JournalRecord::kSync) ||
         r.head.kind == static_cast<std::uint32_t>(JournalRecord::kRemove);
}

std::int64_t FileSize(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

bool WriteAll(int fd, const void* data, std::size_t size, std::int64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n <= 0)
      return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

// Undoes a random part of the changes records[first..end) made to one file
// since its last sync; answers how many were undone.
long CutFile(const Record* records, std::size_t first, std::size_t end, std::uint64_t* state,
             unsigned quarters) {
  char path[4096];
  const std::size_t length = records[first].head.path_length;
  if (length >= sizeof(path))
    return 0;
  std::memcpy(path, records[first].path, length);
  path[length] = '\0';
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    return 0;  // removed since
  long undone = 0;
  unsigned char sector[kSector];
  const std::int64_t synced_size = records[first].head.old_size;
  for (std::size_t i = end; i-- > first;) {
    const Record& r = records[i];
    if (!SamePath(r, records[first]))
      continue;
    if (r.head.kind == static_cast<std::uint32_t>(JournalRecord::kWrite)) {
      const std::int64_t write_end = r.head.offset + r.head.length;
      for (std::int64_t s = r.head.offset / kSector * kSector; s < write_end; s += kSector) {
        if (!Undo(state, quarters))
          continue;
        const std::int64_t from = s > r.head.offset ? s : r.head.offset;
        std::int64_t to = s + kSector < write_end ? s + kSector : write_end;
        const std::int64_t size = FileSize(fd);
        if (to > size)
          to = size;
        if (from >= to)
          continue;
        // The bytes as they were: the file's own before the write, zeros
        // where the write made it longer.
        for (std::int64_t pos = from; pos < to; ++pos) {
          const std::int64_t at = pos - r.head.offset;
          sector[pos - from] = at < r.head.saved ? r.old_bytes[at] : 0;
        }
        if (WriteAll(fd, sector, static_cast<std::size_t>(to - from), from))
          ++undone;
      }
    } else if (r.head.kind == static_cast<std::uint32_t>(JournalRecord::kTruncate)) {
      if (r.head.saved > 0 && Undo(state, quarters) &&
          WriteAll(fd, r.old_bytes, static_cast<std::size_t>(r.head.saved), r.head.offset)) {
        ++undone;
      }
    }
  }
  if (FileSize(fd) > synced_size && Undo(state, quarters) &&
      ::ftruncate(fd, static_cast<off_t>(synced_size)) == 0) {
    ++undone;
  }
  ::close(fd);
  return undone;
}

}  // namespace

bool AppendJournalRecord(int fd, JournalRecord kind, const char* path, std::int64_t offset,
                         std::int64_t length, std::int64_t old_size, const void* old_bytes,
                         std::int64_t saved) {
  RecordHead head{};
  head.magic = kMagic;
  head.kind = static_cast<std::uint32_t>(kind);
  head.offset = offset;
  head.length = length;
  head.old_size = old_size;
  head.saved = saved > 0 ? saved : 0;
  head.path_length = static_cast<std::uint32_t>(std::strlen(path));
  const std::size_t total = sizeof(head) + head.path_length + static_cast<std::size_t>(head.saved);
  char* buffer = static_cast<char*>(std::malloc(total));
  if (!buffer)
    return false;
  std::memcpy(buffer, &head, sizeof(head));
  std::memcpy(buffer + sizeof(head), path, head.path_length);
  if (head.saved > 0)
    std::memcpy(buffer + sizeof(head) + head.path_length, old_bytes,
                static_cast<std::size_t>(head.saved));
  // The journal is opened with O_APPEND: one write is one record.
  const ssize_t n = ::write(fd, buffer, total);
  std::free(buffer);
  return n == static_cast<ssize_t>(total);
}

long CutPower(const char* journal, std::uint64_t seed) {
  const int fd = ::open(journal, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  const std::int64_t size = FileSize(fd);
  char* data = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1));
  std::int64_t got = 0;
  while (data && got < size) {
    const ssize_t n = ::read(fd, data + got, static_cast<std::size_t>(size - got));
    if (n <= 0)
      break;
    got += n;
  }
  ::close(fd);
  if (!data || got != size) {
    std::free(data);
    return -1;
  }
  // Each record's place in the journal; a record cut short at the end (the
  // program died while appending it) did not happen.
  std::size_t count = 0;
  std::size_t capacity = 64;
  Record* records = static_cast<Record*>(std::malloc(capacity * sizeof(Record)));
  std::int64_t at = 0;
  while (records && at + static_cast<std::int64_t>(sizeof(RecordHead)) <= size) {
    Record r;
    std::memcpy(&r.head, data + at, sizeof(RecordHead));
    const std::int64_t next =
        at + static_cast<std::int64_t>(sizeof(RecordHead)) + r.head.path_length + r.head.saved;
    if (r.head.magic != kMagic || next > size)
      break;
    r.path = data + at + sizeof(RecordHead);
    r.old_bytes = reinterpret_cast<const unsigned char*>(r.path + r.head.path_length);
    if (count == capacity) {
      capacity *= 2;
      Record* grown = static_cast<Record*>(std::realloc(records, capacity * sizeof(Record)));
      if (!grown)
        break;
      records = grown;
    }
    records[count++] = r;
    at = next;
  }
  std::uint64_t state = seed;
  const unsigned quarters = static_cast<unsigned>(seed % 5);
  long undone = 0;
  // Each file once, from its last record: back to its last sync or removal,
  // then forward over what came since.
  std::size_t done[16];  // the last record of each file handled, a few files at most
  std::size_t done_count = 0;
  for (std::size_t last = count; records && last-- > 0 && done_count < 16;) {
    bool seen = false;
    for (std::size_t d = 0; d < done_count && !seen; ++d)
      seen = SamePath(records[done[d]], records[last]);
    if (seen)
      continue;
    done[done_count++] = last;
    std::size_t first = last + 1;
    while (first > 0 &&
           !(SamePath(records[first - 1], records[last]) && IsMarker(records[first - 1])))
      --first;
    while (first <= last && !SamePath(records[first], records[last]))
      ++first;
    if (first <= last && !IsMarker(records[first]))
      undone += CutFile(records, first, last + 1, &state, quarters);
  }
  std::free(records);
  std::free(data);
  return undone;
}

}  // namespace testing_support
