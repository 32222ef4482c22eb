#include "testing/temp_files.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

// One folder per run of the test binary; everything the tests make goes below
// it and goes with it at exit.
class RunFolder {
 public:
  RunFolder() {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() / ("brevlin-test-" + std::to_string(stamp));
    fs::create_directories(root_);
  }
  ~RunFolder() {
    std::error_code ignored;
    if (std::getenv("BREVLIN_KEEP_TEST_FILES") == nullptr)
      fs::remove_all(root_, ignored);
  }
  fs::path Next() {
    fs::path dir = root_ / std::to_string(counter_++);
    fs::create_directories(dir);
    return dir;
  }

 private:
  fs::path root_;
  std::atomic<unsigned> counter_{0};
};

RunFolder& Run() {
  static RunFolder run;
  return run;
}

}  // namespace

std::string NewTempDir() {
  return Run().Next().string();
}

std::string WriteTempFile(std::string_view contents, const std::string& file_name) {
  fs::path path = Run().Next() / file_name;
  std::ofstream out(path, std::ios::binary);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.close();
  if (!out)
    throw std::runtime_error("cannot write test file " + path.string());
  return path.string();
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  return (fs::path(dir) / name).string();
}

}  // namespace testing_support
