#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/linux_file_names.h"

namespace plat {

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

Status ReadOnlyFile::Open(const std::string& name) {
  if (IsOpen())
    return kErrorInvalidFunction;
  std::string path = posix::ToPosixPath(name);
  if (path.empty())
    return kErrorPathNotFound;
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; only
  // regular files are read, so a pipe or a device is refused below.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return posix::ErrnoToWin32(errno, path);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    Status status = posix::ErrnoToWin32(errno, path);
    ::close(fd);
    return status;
  }
  if (!S_ISREG(st.st_mode)) {
    // Windows refuses to open a folder as a file in the same way.
    ::close(fd);
    return kErrorAccessDenied;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0)
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  handle_ = fd;
  bytes_read_ = 0;
  struct stat opened;
  largest_size_ = ::fstat(fd, &opened) == 0 ? static_cast<std::uint64_t>(opened.st_size) : 0;
  return kErrorSuccess;
}

Status ReadOnlyFile::Read(void* buffer, std::size_t size, std::size_t* got) {
  *got = 0;
  if (!IsOpen())
    return kErrorInvalidHandle;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle_), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return posix::ErrnoToWin32(errno, std::string());
  if (n > 0) {
    // A file's reads cannot run past the largest size it has had: its size
    // when it was opened, or a larger one when a writer appends. Files of the
    // kernel's (in /proc and /sys) say 0 and may give data without end: what
    // they give is not a configuration file. (A file cut shorter while it is
    // read may still give what it held before.)
    bytes_read_ += static_cast<std::uint64_t>(n);
    struct stat st;
    if (::fstat(static_cast<int>(handle_), &st) != 0)
      return posix::ErrnoToWin32(errno, std::string());
    largest_size_ = std::max(largest_size_, static_cast<std::uint64_t>(st.st_size));
    if (bytes_read_ > largest_size_) {
      return posix::ErrnoToWin32(EFBIG, std::string());
    }
  }
  *got = static_cast<std::size_t>(n);
  return kErrorSuccess;
}

Status ReadOnlyFile::Close() {
  if (!IsOpen())
    return kErrorSuccess;
  int fd = static_cast<int>(handle_);
  handle_ = kClosed;
  // The descriptor is released even when close reports an error; it must not
  // be closed a second time.
  if (::close(fd) != 0 && errno != EINTR)
    return posix::ErrnoToWin32(errno, std::string());
  return kErrorSuccess;
}

}  // namespace plat
