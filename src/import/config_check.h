// The dry run of an import: what a configuration file would write, and what
// in it is probably not what its author meant.
#ifndef BREVLIN_IMPORT_CONFIG_CHECK_H_
#define BREVLIN_IMPORT_CONFIG_CHECK_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "common/run_outcome.h"
#include "platform/registry.h"

// Reads the configuration file `file_name` as ImportConfigFile would import
// it (with the same `root`, `expected_product` and `import_scope`) and lists
// on `out`, one line each and in the file's order, every key and value the
// import would write (root, key path, value name, type and decoded data) and
// every warning, each line beginning with "FILE:LINE: ". Nothing is written
// and the registry is not touched, so a key the user may not write cannot be
// told here. The events that keep something from being written are noted in
// `outcome`: a file that cannot be read, another product's file, and lines
// that would write nothing. Where the import would stop (another product, a
// value line with no key), the listing stops too. Ends with a summary line.
void CheckConfigFile(plat::RegKey root, const std::string& file_name,
                     const std::string& expected_product, std::uint8_t import_scope,
                     RunOutcome& outcome, std::ostream& out);

#endif  // BREVLIN_IMPORT_CONFIG_CHECK_H_
