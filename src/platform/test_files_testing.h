// Forwarding header: the registry store's own tests still include the old
// name until they move with the store. Remove it once they include
// "testing/temp_files.h" directly.
#include "testing/temp_files.h"  // IWYU pragma: export
