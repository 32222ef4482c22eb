// Forwarding header: the registry store's process tests still include the
// old name until they move with the store. Remove it once they include
// "registry/registry_object.h" directly.
#include "registry/registry_object.h"  // IWYU pragma: export
