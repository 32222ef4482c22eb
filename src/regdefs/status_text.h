// What a status means, in words for a user.
#ifndef BREVLIN_REGDEFS_STATUS_TEXT_H_
#define BREVLIN_REGDEFS_STATUS_TEXT_H_

#include <string>

#include "regdefs/status.h"

namespace regdefs {

// What the failure that `status` stands for means, for a message: in lower
// case and without a full stop ("the registry store's disk is full"), so that
// it can follow "cannot write the key X: ". The texts speak of the registry
// and its store. A status without a text of its own gives "error" and its
// number.
std::string StatusText(Status status);

// Whether `status` has a text of its own.
bool HasStatusText(Status status);

}  // namespace regdefs

#endif  // BREVLIN_REGDEFS_STATUS_TEXT_H_
