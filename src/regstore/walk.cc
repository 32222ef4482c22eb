#include "regstore/walk.h"

namespace regstore {

using namespace regdefs;

Status SplitPath(std::string_view path, bool allow_leading_backslash,
                 std::vector<std::string_view>* names) {
  names->clear();
  if (!path.empty() && path[0] == '\\' && !allow_leading_backslash)
    return kErrorBadPathname;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (end > start) {
      if (end - start > kMaxKeyNameLength || names->size() == kMaxKeyDepth)
        return kErrorInvalidParameter;
      names->push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return kErrorSuccess;
}

}  // namespace regstore
