// Runs a program under the test file layer (file_layer/file_layer.cc): a
// library preloaded into it that fails a chosen write or sync of the store's
// files, or keeps an undo journal of them and cuts the power at a chosen
// change (power_cut.h).
#ifndef BREVLIN_TESTING_POSIX_FILE_LAYER_H_
#define BREVLIN_TESTING_POSIX_FILE_LAYER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// What the layer does in one program run.
struct FileLayerSetup {
  std::string store;          // the store file whose files it watches
  long fail_write = 0;        // the write that fails with EIO (from 1); none when 0
  long fail_sync = 0;         // the sync that fails with EIO (from 1); none when 0
  bool persist = false;       // every write or sync after the failed one fails too
  std::string journal;        // the undo journal to keep; none when empty
  long cut_at = 0;            // the change before which the power is cut; none when 0
  long stop_at = 0;           // the change before which the program stops itself; none when 0
  bool stop_at_open = false;  // the program stops itself once it has opened the store
  std::uint64_t seed = 0;
  std::string report;  // where it reports what it saw; nowhere when empty
};

// The layer's library beside the test binary; whether it was built.
std::string FileLayerLibrary();
bool FileLayerBuilt();

// The changes to a program's environment (ProgramOptions::environment) that
// run it under the layer so set up.
std::vector<std::string> FileLayerEnvironment(const FileLayerSetup& setup);

// What the layer saw in a run that ended: its writes, syncs and changes
// (writes, syncs, truncations and removals) of the store's files, and
// whether it cut the power. `read` is false when the run left no report.
struct FileLayerReport {
  bool read = false;
  long writes = 0;
  long syncs = 0;
  long changes = 0;
  bool cut = false;
};
FileLayerReport ReadFileLayerReport(const std::string& path);

}  // namespace testing_support

#endif  // BREVLIN_TESTING_POSIX_FILE_LAYER_H_
