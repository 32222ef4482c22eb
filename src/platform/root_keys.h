// The five root keys (regdefs/root_keys.h), by their platform names.
#ifndef BREVLIN_PLATFORM_ROOT_KEYS_H_
#define BREVLIN_PLATFORM_ROOT_KEYS_H_

#include "platform/registry.h"
#include "regdefs/root_keys.h"

#endif  // BREVLIN_PLATFORM_ROOT_KEYS_H_
