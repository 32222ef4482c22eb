// The dry run of an import (--check): the import itself, run against a
// registry that is thrown away afterwards, with every key and value it
// writes listed instead of kept.
#ifndef BREVLIN_IMPORT_CONFIG_CHECK_H_
#define BREVLIN_IMPORT_CONFIG_CHECK_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/run_outcome.h"
#include "import/imp_exp_reg.h"
#include "platform/registry.h"

// The registry's own names for what an import wrote. Either may be left
// empty; the listing then shows the names as the import passed them.
struct StoredNames {
  // The path of the key at `path` below `root` as the registry holds it
  // (each name in the case it was made with); false when there is none.
  std::function<bool(plat::RegKey root, const char* path, std::string* stored)> key_path;
  // Replaces each of `names`, the names of values as the import passed them
  // to the key at `stored_path` below `root`, by the name of that value as
  // the registry holds it.
  std::function<void(plat::RegKey root, const std::string& stored_path,
                     std::vector<std::string>* names)>
      value_names;
};

// Imports the configuration file `file_name` as ImportConfigFile does (with
// the same `root`, `expected_product` and `import_scope`, and no stop at a
// refused key) into the registry the process uses, which the caller has made
// a throwaway one, and lists on `out`, one line each and in the file's
// order, every key and value it writes (root, key path, value name, type and
// data, with the names as `names` gives them), every warning, and where and
// why the import stops. Each line begins with "FILE:LINE: "; a summary line
// ends the listing. What keeps something from being written is noted in
// `outcome` as the import notes it. No message box is shown.
void CheckConfigFile(plat::RegKey root, const std::string& file_name,
                     const std::string& expected_product, ImportScope import_scope,
                     const StoredNames& names, RunOutcome& outcome, std::ostream& out);

#endif  // BREVLIN_IMPORT_CONFIG_CHECK_H_
