#include "platform/paths.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/posix/linux_file_names.h"

namespace plat {

namespace {

std::uint32_t AttributesOf(mode_t mode) {
  if (S_ISDIR(mode))
    return kFileAttributeDirectory;
  if (S_ISREG(mode))
    return kFileAttributeNormal;
  return kFileAttributeDevice;
}

// The current folder, of any length.
Status CurrentFolder(std::string* folder) {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE)
      return posix::ErrnoToWin32(errno, std::string());
    buffer.resize(buffer.size() * 2);
  }
  *folder = buffer.data();
  return kErrorSuccess;
}

std::string WithBackslashes(std::string name) {
  for (char& c : name) {
    if (c == '/')
      c = '\\';
  }
  return name;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

Status GetFullPathNameA(const std::string& name, std::string* full_path) {
  if (name.empty())
    return kErrorInvalidName;
  std::string path = WithBackslashes(name);
  if (path[0] != '\\') {
    std::string current;
    Status status = CurrentFolder(&current);
    if (status != kErrorSuccess)
      return status;
    path = WithBackslashes(current) + '\\' + path;
  }

  // Resolve the elements as Windows does, by their names alone: "." goes,
  // ".." takes the element before it away (never above the root), and empty
  // elements between doubled separators go.
  std::vector<std::string> elements;
  bool trailing_separator = false;
  std::string::size_type start = 1;
  while (start <= path.size()) {
    std::string::size_type end = path.find('\\', start);
    if (end == std::string::npos)
      end = path.size();
    std::string element = path.substr(start, end - start);
    trailing_separator = element.empty();
    if (element == "..") {
      if (!elements.empty())
        elements.pop_back();
    } else if (!element.empty() && element != ".") {
      elements.push_back(element);
    }
    start = end + 1;
  }

  std::string full;
  for (const std::string& element : elements)
    full += '\\' + element;
  if (full.empty() || trailing_separator)
    full += '\\';
  *full_path = full;
  return kErrorSuccess;
}

Status GetFileAttributesA(const std::string& name, std::uint32_t* attributes) {
  std::string path = posix::ToPosixPath(name);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return posix::ErrnoToWin32(errno, path);
  *attributes = AttributesOf(st.st_mode);
  return kErrorSuccess;
}

Status FindFirstFileA(const std::string& name, std::uint32_t* attributes) {
  std::string path = posix::ToPosixPath(name);
  std::string::size_type slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string entry = slash == std::string::npos ? path : path.substr(slash + 1);
  if (entry.empty())
    return kErrorFileNotFound;

  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir)
    return posix::ErrnoToWin32(errno, folder);
  errno = 0;
  while (const struct dirent* found = ::readdir(dir.get())) {
    if (entry != found->d_name)
      continue;
    struct stat st;
    if (::fstatat(::dirfd(dir.get()), found->d_name, &st, 0) == 0) {
      *attributes = AttributesOf(st.st_mode);
    } else if (found->d_type == DT_DIR) {
      *attributes = kFileAttributeDirectory;
    } else if (found->d_type == DT_REG) {
      *attributes = kFileAttributeNormal;
    } else {
      // A dangling link, or an entry whose kind cannot be told: no file.
      *attributes = kFileAttributeDevice;
    }
    return kErrorSuccess;
  }
  return errno != 0 ? posix::ErrnoToWin32(errno, folder) : kErrorFileNotFound;
}

}  // namespace plat
