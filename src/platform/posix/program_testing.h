// Forwarding header: the registry store's own tests still include the old
// name until they move with the store. Remove it once they include
// "testing/posix/program_runner.h" directly.
#include "testing/posix/program_runner.h"  // IWYU pragma: export
