#include "regstore_tool/output.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace regstore_tool {

namespace {

int WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

}  // namespace

bool Output::Flush() {
  if (!buffer_.empty() && error_ == 0)
    error_ = WriteOut(buffer_.data(), buffer_.size());
  buffer_.clear();
  return error_ == 0;
}

bool FdOutput::IsTerminal() const {
  return ::isatty(fd_) == 1;
}

int FdOutput::WriteOut(const char* data, std::size_t size) {
  return WriteAll(fd_, data, size);
}

FileOutput::~FileOutput() {
  Close();
}

int FileOutput::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd_ < 0 ? errno : 0;
}

int FileOutput::Close() {
  if (fd_ < 0)
    return error();
  Flush();
  int status = error();
  if (::close(fd_) != 0 && status == 0)
    status = errno;
  fd_ = -1;
  return status;
}

int FileOutput::WriteOut(const char* data, std::size_t size) {
  return fd_ < 0 ? EBADF : WriteAll(fd_, data, size);
}

int StringOutput::WriteOut(const char* data, std::size_t size) {
  if (fail_with != 0)
    return fail_with;
  text_.append(data, size);
  return 0;
}

}  // namespace regstore_tool
