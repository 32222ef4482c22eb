#include "platform/posix/linux_file_names.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/status.h"

namespace plat {
namespace posix {

std::string ToPosixPath(const std::string& name) {
  std::string path = name;
  for (char& c : path) {
    if (c == '\\')
      c = '/';
  }
  return path;
}

bool ParentFolderExists(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return true;
  std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat st;
  return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The errno that a file operation of this thread failed with last, and the
// code it was answered as.
struct LastFailure {
  int error = 0;
  Status status = kErrorSuccess;
};
thread_local LastFailure last_failure;

unsigned NearestWin32Code(int error, const std::string& path) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      // Windows tells a missing file from a missing folder on the way to it.
      return ParentFolderExists(path) ? kErrorFileNotFound : kErrorPathNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ELOOP:
      return kErrorCantResolveFilename;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case EIO:
      return kErrorIoDevice;
    case EBADF:
      return kErrorInvalidHandle;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace

unsigned ErrnoToWin32(int error, const std::string& path) {
  Status status = NearestWin32Code(error, path);
  last_failure.error = error;
  last_failure.status = status;
  return status;
}

}  // namespace posix

std::string SystemErrorText(Status status) {
  const posix::LastFailure& last = posix::last_failure;
  if (status == kErrorSuccess || last.status != status || last.error == 0)
    return std::string();
  return std::strerror(last.error);
}

}  // namespace plat
