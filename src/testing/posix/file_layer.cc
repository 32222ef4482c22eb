#include "testing/posix/file_layer.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace testing_support {

std::string FileLayerLibrary() {
  return BuiltProgram("brevlin_file_layer.so");
}

bool FileLayerBuilt() {
  return ::access(FileLayerLibrary().c_str(), R_OK) == 0;
}

std::vector<std::string> FileLayerEnvironment(const FileLayerSetup& setup) {
  std::vector<std::string> env = {"LD_PRELOAD=" + FileLayerLibrary(),
                                  "BREVLIN_FAULT_FILES=" + setup.store};
  // A program built with AddressSanitizer wants its runtime loaded first;
  // the layer needs none of it.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env.push_back("ASAN_OPTIONS=" + std::string(asan && *asan ? std::string(asan) + ":" : "") +
                "verify_asan_link_order=0");
  auto number = [&](const char* name, long long value) {
    env.push_back(std::string(name) + (value > 0 ? "=" + std::to_string(value) : ""));
  };
  auto text = [&](const char* name, const std::string& value) {
    env.push_back(std::string(name) + (value.empty() ? "" : "=" + value));
  };
  number("BREVLIN_FAULT_WRITE", setup.fail_write);
  number("BREVLIN_FAULT_SYNC", setup.fail_sync);
  number("BREVLIN_FAULT_CUT", setup.cut_at);
  number("BREVLIN_FAULT_STOP", setup.stop_at);
  env.push_back(setup.stop_at_open ? "BREVLIN_FAULT_STOP_OPEN=1" : "BREVLIN_FAULT_STOP_OPEN");
  env.push_back(setup.persist ? "BREVLIN_FAULT_PERSIST=1" : "BREVLIN_FAULT_PERSIST");
  env.push_back("BREVLIN_FAULT_SEED=" + std::to_string(setup.seed));
  text("BREVLIN_FAULT_JOURNAL", setup.journal);
  text("BREVLIN_FAULT_REPORT", setup.report);
  return env;
}

FileLayerReport ReadFileLayerReport(const std::string& path) {
  FileLayerReport report;
  std::istringstream in(ReadWholeFile(path));
  std::string writes, syncs, changes, cut;
  int was_cut = 0;
  if (in >> writes >> report.writes >> syncs >> report.syncs >> changes >> report.changes >> cut >>
      was_cut) {
    report.read = writes == "writes" && syncs == "syncs" && changes == "changes" && cut == "cut";
    report.cut = was_cut != 0;
  }
  return report;
}

}  // namespace testing_support
