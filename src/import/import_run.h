// The one interpreter of configuration files. The import and the dry run
// (--check) both run it over the same lines with the same registry calls;
// they differ only in what hears of it: the user, through message boxes, or
// a listener that lists every write, warning and stop.
#ifndef BREVLIN_IMPORT_IMPORT_RUN_H_
#define BREVLIN_IMPORT_IMPORT_RUN_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/run_outcome.h"
#include "import/imp_exp_reg.h"
#include "platform/registry.h"

// A value as the import hands it to the registry.
struct WrittenValue {
  std::uint32_t type = plat::kRegNone;               // REG_SZ, REG_DWORD or REG_BINARY
  std::string_view text;                             // REG_SZ: the text, without its NUL
  std::int32_t number = 0;                           // REG_DWORD
  const std::vector<std::uint8_t>* bytes = nullptr;  // REG_BINARY
};

// Hears what an import does, in the order of the file's lines.
class ImportListener {
 public:
  virtual ~ImportListener() = default;
  // The registry took the key of a key line for writing (and made it when it
  // was missing); `path` is the key path as the import passed it.
  virtual void KeyTaken(std::uint64_t line, plat::RegKey root, const std::string& path) = 0;
  // The registry took a value into the key taken last; `name` as passed.
  virtual void ValueWritten(std::uint64_t line, const std::string& name,
                            const WrittenValue& value) = 0;
  // A line that writes nothing, or is read otherwise than it looks.
  virtual void Warning(std::uint64_t line, const std::string& text) = 0;
  // The import stops at `line` (0: the file as a whole) for the reason given.
  // With a listener no message box is shown.
  virtual void Stopped(std::uint64_t line, const std::string& text) = 0;
  // What was reported since the last call is in the registry now.
  virtual void Written() {}
};

struct ImportRequest {
  plat::RegKey root = plat::kHkeyCurrentUser;
  std::string file_name;
  std::string expected_product;
  bool show_errors = false;
  ImportScope scope = ImportScope::kBoth;
};

// Runs the import as ImportConfigFile describes it, noting in `outcome` what
// kept lines from being written. `listener` may be null. A registry failure
// still raises ERegistryException (after the listener heard of it).
bool RunImport(const ImportRequest& request, ImportListener* listener, RunOutcome& outcome);

#endif  // BREVLIN_IMPORT_IMPORT_RUN_H_
