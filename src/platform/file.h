// Reading files.
#ifndef BREVLIN_PLATFORM_FILE_H_
#define BREVLIN_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace plat {

// A file opened for reading only. While it is open, other processes may still
// read and write the file. The owner closes it; the destructor closes it too,
// ignoring any error.
//
// File names use "\" as the folder separator on every system; elsewhere than
// on Windows "/" is accepted as well, and a name that begins with "\" is
// absolute.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens an existing file. Fails when one is already open, and with
  // ERROR_ACCESS_DENIED for a folder, a pipe or a device: only files are
  // read.
  Status Open(const std::string& name);
  // Reads up to `size` bytes; `*got` is 0 at the end of the file. A file that
  // gives more bytes than its size says (on Linux, /proc/self/pagemap and
  // its like, whose reads may never end) fails with ERROR_INVALID_DATA once
  // it does.
  Status Read(void* buffer, std::size_t size, std::size_t* got);
  // Closes the file; the object is closed afterwards whatever the answer.
  Status Close();
  bool IsOpen() const { return handle_ != kClosed; }

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
  std::uint64_t bytes_read_ = 0;
  std::uint64_t largest_size_ = 0;
};

}  // namespace plat

#endif  // BREVLIN_PLATFORM_FILE_H_
