#include "platform/posix/scratch_registry.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "regstore/regstore.h"

namespace plat {
namespace posix {

namespace {

std::string TemporaryFolderBase() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && tmpdir[0] == '/' ? tmpdir : "/tmp";
}

// Removes the files of a folder (the store and SQLite's files beside it)
// and the folder.
void RemoveFolder(const std::string& folder) {
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(dir);
  }
  ::rmdir(folder.c_str());
}

}  // namespace

ScratchRegistry::ScratchRegistry(Start start) : previous_path_(regstore::StorePath()) {
  std::string pattern = TemporaryFolderBase() + "/register-brevlin-check.XXXXXX";
  if (!::mkdtemp(&pattern[0])) {
    error_ =
        "cannot make a temporary folder in " + TemporaryFolderBase() + ": " + std::strerror(errno);
    return;
  }
  folder_ = pattern;
  const std::string path = folder_ + "/registry.db";
  struct stat st;
  if (start == Start::kCopyOfStore && ::stat(previous_path_.c_str(), &st) == 0) {
    std::string detail;
    if (regstore::CopyStoreFile(previous_path_, path, &detail) != kErrorSuccess) {
      error_ = "cannot read the registry store " + previous_path_ + ": " + detail;
      return;
    }
  }
  regstore::UseStorePath(path);
}

ScratchRegistry::~ScratchRegistry() {
  if (folder_.empty())
    return;
  if (error_.empty())
    regstore::UseStorePath(previous_path_);
  RemoveFolder(folder_);
}

bool StoredKeyPath(RegKey root, const char* path, std::string* stored) {
  regstore::StoreKeyInfo info;
  if (regstore::StoreFindKey(root, path ? path : "", &info) != kErrorSuccess)
    return false;
  *stored = info.path;
  return true;
}

void StoredValueNames(RegKey root, const std::string& stored_path,
                      std::vector<std::string>* names) {
  // Where each name stands in `names`, by its folded form.
  std::unordered_map<std::string, std::vector<std::size_t>> wanted;
  for (std::size_t i = 0; i < names->size(); ++i) {
    // The registry takes a name as a C string.
    std::string& name = (*names)[i];
    name.resize(std::strlen(name.c_str()));
    wanted[regstore::FoldName(name)].push_back(i);
  }
  regstore::StoreForEachValue(root, stored_path, [&](const regstore::StoreValueView& value) {
    auto found = wanted.find(regstore::FoldName(value.name));
    if (found != wanted.end()) {
      for (std::size_t i : found->second)
        (*names)[i].assign(value.name);
      wanted.erase(found);
    }
    return !wanted.empty();
  });
}

}  // namespace posix
}  // namespace plat
