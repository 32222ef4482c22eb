#include "platform/posix/linux_file_names.h"

#include <errno.h>
#include <sys/stat.h>

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

unsigned ErrnoToWin32(int error, const std::string& path) {
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

}  // namespace posix
}  // namespace plat
