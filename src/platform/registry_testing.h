// Forwarding header: the registry store's own tests still include the old
// name until they move with the store. Remove it once they include
// "testing/registry_fixture.h" directly.
#include "testing/registry_fixture.h"  // IWYU pragma: export
