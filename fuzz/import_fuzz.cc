// The whole importer on arbitrary configuration files, against a throwaway
// store: every file must end in one of the import's outcomes, with the
// handshake value telling which.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/exceptions.h"
#include "import/imp_exp_reg.h"
#include "platform/registry_testing.h"
#include "platform/test_files_testing.h"
#include "platform/ui.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

const std::string& InputFile() {
  static const std::string path = testing_support::WriteTempFile("", "input.cfg");
  return path;
}

// A new store every few hundred inputs keeps the store small and the runs
// fast. The last one is left to the process's end, where the store itself
// commits and closes.
void UseFreshStoreNowAndThen() {
  static testing_support::ScopedTestRegistry* store = nullptr;
  static unsigned runs = 0;
  if (store == nullptr || ++runs % 300 == 0) {
    delete store;
    store = new testing_support::ScopedTestRegistry;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool show_errors = data[0] & 1;
  const std::uint8_t scope = static_cast<std::uint8_t>((data[0] >> 1) & 3);
  {
    FILE* out = std::fopen(InputFile().c_str(), "wb");
    Check(out != nullptr, "input file opens");
    std::fwrite(data + 1, 1, size - 1, out);
    std::fclose(out);
  }
  UseFreshStoreNowAndThen();
  int messages = 0;
  plat::SetMessageRecorder([&](const plat::ShownMessage& m) {
    ++messages;
    Check(m.caption.rfind("Register Brevlin", 0) == 0, "a message of the importer");
  });

  bool raised = false;
  bool result = false;
  try {
    result = ImportConfigFile(plat::kHkeyCurrentUser, InputFile(), "Brevlin", show_errors, scope);
  } catch (const ERegistryException&) {
    raised = true;
  }
  plat::SetMessageRecorder(nullptr);

  auto loading =
      testing_support::ReadValue(plat::kHkeyCurrentUser, "Software\\Mardovan", "Loading");
  if (result) {
    Check(messages == 0, "a complete import shows nothing");
    Check(!loading.has_value(), "a complete import removes the handshake");
  } else {
    Check(raised || messages == 1, "an early end shows one message or raises");
    Check(loading.has_value() && loading->type == 4 &&
              loading->data == std::vector<std::uint8_t>(4, 0),
          "an early end leaves the handshake at 0");
  }
  return 0;
}
