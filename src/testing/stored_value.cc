#include <ostream>

#include "testing/registry_contents.h"

namespace testing_support {

void PrintTo(const StoredValue& value, std::ostream* os) {
  *os << "type " << value.type << " [";
  for (std::uint8_t byte : value.data)
    *os << ' ' << static_cast<int>(byte);
  *os << " ]";
}

}  // namespace testing_support
