// How messages name files and failures on Windows: as the system does, with
// nothing added.
#include "platform/status.h"
#include "platform/ui.h"

namespace plat {

std::string MessageFileName(const std::string& file_name) {
  return file_name;
}

std::string SystemErrorText(Status) {
  return std::string();
}

}  // namespace plat
