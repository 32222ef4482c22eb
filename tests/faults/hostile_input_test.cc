// The Linux program on hostile configuration files: a huge file without a
// line end, very long lines of every kind, very many keys, and key paths at
// and past the registry's limits. Each run must end in one of the import's
// outcomes, without a crash and with memory that does not grow with the file
// beyond the one line the reader has to hold.
//
// The test command runs small versions; BREVLIN_HOSTILE_FULL=1 runs the full
// sizes (a 1 GiB file without a line end, lines of 100 MiB, a million keys)
// and prints the time and peak memory of each run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/run_outcome.h"
#include "platform/registry.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::ReadStoreContent;
using testing_support::RunProgram;
using testing_support::StoreContent;

constexpr long long kMiB = 1024 * 1024;

bool FullSizes() {
  const char* full = std::getenv("BREVLIN_HOSTILE_FULL");
  return full && *full && std::string(full) != "0";
}

// Memory use is checked only where the program runs without a sanitizer,
// whose shadow memory and quarantine would swamp it.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif

// Writes a file piece by piece: text, or a byte repeated many times.
class FileWriter {
 public:
  explicit FileWriter(const std::string& path) : out_(path, std::ios::binary) {}
  FileWriter& Text(const std::string& text) {
    out_ << text;
    return *this;
  }
  FileWriter& Repeat(char c, long long count) {
    const std::string chunk(static_cast<std::size_t>(std::min<long long>(count, kMiB)), c);
    for (long long left = count; left > 0; left -= static_cast<long long>(chunk.size()))
      out_.write(chunk.data(), std::min<long long>(left, static_cast<long long>(chunk.size())));
    return *this;
  }
  // "a\a\a..." of `count` bytes: a path of about count / 2 levels.
  FileWriter& Levels(long long count) {
    std::string chunk;
    while (chunk.size() < static_cast<std::size_t>(std::min<long long>(count, kMiB)))
      chunk += "a\\";
    for (long long left = count; left > 0; left -= static_cast<long long>(chunk.size()))
      out_.write(chunk.data(), std::min<long long>(left, static_cast<long long>(chunk.size())));
    return *this;
  }

 private:
  std::ofstream out_;
};

class HostileInputTest : public testing_support::ProgramTest {
 protected:
  void TearDown() override {
    // The big files go as soon as the test is done with them.
    for (const std::string& file : files_)
      ::unlink(file.c_str());
  }

  std::string File(const std::string& name) {
    files_.push_back(testing_support::JoinPath(dir_, name));
    return files_.back();
  }

  // Imports `config` into a new store and reports the run's figures. The
  // run ends with `exit_status`, or either of the two given.
  ProgramRun Import(const std::string& what, const std::string& config, std::string* store,
                    int exit_status, int or_exit_status = -1) {
    *store = NewStore();
    ProgramOptions options;
    options.arguments = {"/IC", config};
    options.store = *store;
    ProgramRun run = RunProgram(program_, options);
    files_.push_back(*store);
    files_.push_back(*store + "-wal");
    std::printf("%-44s %8.2f s %9ld KiB peak\n", what.c_str(), run.seconds, run.peak_memory_kib);
    EXPECT_EQ(run.signal, 0) << what;
    if (run.exit_code != or_exit_status) {
      EXPECT_EQ(run.exit_code, exit_status) << what;
    }
    return run;
  }

  // Peak memory within a few times the longest line and a fixed allowance.
  void ExpectMemoryWithin(const ProgramRun& run, long long line_bytes, double lines) {
    if (!kMeasureMemory)
      return;
    const long long limit =
        static_cast<long long>(lines * static_cast<double>(line_bytes)) + 48 * kMiB;
    EXPECT_LE(run.peak_memory_kib * 1024LL, limit)
        << "peak " << run.peak_memory_kib << " KiB for a line of " << line_bytes << " bytes";
  }

  std::vector<std::string> files_;
};

TEST_F(HostileInputTest, FileWithoutALineEnd) {
  const long long size = FullSizes() ? 1024 * kMiB : 16 * kMiB;
  std::string store;

  // A value line without a tab names no type: the whole file is one line
  // that writes nothing.
  const std::string plain = File("plain.cfg");
  FileWriter(plain).Repeat('A', size);
  ProgramRun run = Import("no line end, no field", plain, &store, kExitNotAllWritten);
  EXPECT_EQ(run.error_output, "");
  EXPECT_EQ(testing_support::LoadingValue(Content(store)), -1);
  ExpectMemoryWithin(run, size, 1.2);

  // One string value of the whole file: stored whole, or refused by the
  // store with the registry's error box, the import stopping there.
  const std::string value = File("value.cfg");
  FileWriter(value).Text("[Software\\Mardovan\\Huge]\nstring\tX\t").Repeat('v', size);
  run = Import("no line end, one string value", value, &store, kExitSuccess, kExitNotAllWritten);
  StoreContent content = Content(store);
  auto key = content.find("HKEY_CURRENT_USER\\Software\\Mardovan\\Huge");
  ASSERT_NE(key, content.end());
  if (run.error_output.empty()) {
    ASSERT_TRUE(key->second.count("X"));
    EXPECT_EQ(key->second.at("X").data.size(), static_cast<std::size_t>(size) + 1);
    EXPECT_EQ(testing_support::LoadingValue(content), -1);
  } else {
    EXPECT_EQ(run.error_output, "Register Brevlin\n" + value + ":2: Failed to set data for 'X'\n");
    EXPECT_EQ(key->second.count("X"), 0u);
    EXPECT_EQ(testing_support::LoadingValue(content), 0);
  }
  ExpectMemoryWithin(run, size, 3.5);

  // One key line: its one name is longer than any key name may be, so the
  // key is refused and nothing is written.
  const std::string path = File("key.cfg");
  FileWriter(path).Text("[").Repeat('k', size);
  run = Import("no line end, one key name", path, &store, kExitNotAllWritten);
  EXPECT_EQ(run.error_output, "");
  content = Content(store);
  EXPECT_EQ(testing_support::LoadingValue(content), -1);
  for (const auto& key : content)
    EXPECT_LT(key.first.size(), 100u) << "a key was made";
  ExpectMemoryWithin(run, size, 2.5);
}

// One line of every kind, each very long, then a short key written after
// them, then a product line that names a very long other product.
TEST_F(HostileInputTest, VeryLongLinesOfEveryKind) {
  const long long length = FullSizes() ? 100 * kMiB : 4 * kMiB;
  const std::string config = File("lines.cfg");
  FileWriter(config)
      .Text("<[Brevlin]>\n[Software\\Mardovan\\Long]\nstring\tS\t")
      .Repeat('s', length)
      .Text("\nbinary\tB\t")
      .Repeat('7', length)
      .Text("\ninteger\tI\t")
      .Repeat('9', length)
      .Text("\n<<")
      .Repeat('c', length)
      .Text("\n\t\t")
      .Repeat(' ', length)
      .Text("\n[Software\\Mardovan\\")
      .Repeat('n', length)
      .Text("]\nstring\tRefused\tafter a refused key\n<")
      .Repeat('r', length)
      .Text(">\n[")
      .Levels(length)
      .Text("]\nstring\tRefused\tafter a key too deep\n<HKEY_CURRENT_USER>\n")
      .Text("[Software\\Mardovan\\After]\nstring\tReached\tyes\n<[")
      .Repeat('P', length)
      .Text("]>\nstring\tNot\treached\n");
  std::string store;
  ProgramRun run = Import("lines of every kind", config, &store, kExitWrongProduct);
  const std::string box =
      "Register Brevlin Import Error\n" + config + ":16: This configuration file belongs to ";
  EXPECT_EQ(run.error_output.compare(0, box.size(), box), 0);
  EXPECT_EQ(run.error_output.size(),
            box.size() + static_cast<std::size_t>(length) +
                std::string("\nand is not compatible with this program.\n").size());

  StoreContent content = Content(store);
  const auto& values = content["HKEY_CURRENT_USER\\Software\\Mardovan\\Long"];
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values.at("S").data.size(), static_cast<std::size_t>(length) + 1);
  // Each three characters give one byte, "77" read as hexadecimal.
  EXPECT_EQ(values.at("B").data.size(), static_cast<std::size_t>(length / 3));
  EXPECT_EQ(values.at("B").data.front(), 0x77);
  // Digits are taken while the number fits in 32 bits.
  EXPECT_EQ(values.at("I").data, (std::vector<std::uint8_t>{0xFF, 0xC9, 0x9A, 0x3B}));
  EXPECT_EQ(content["HKEY_CURRENT_USER\\Software\\Mardovan\\After"].at("Reached").type,
            plat::kRegSz);
  for (const auto& key : content)
    EXPECT_EQ(key.second.count("Refused"), 0u) << key.first;
  EXPECT_EQ(testing_support::LoadingValue(content), 0);
  ExpectMemoryWithin(run, length, 3.5);
}

TEST_F(HostileInputTest, VeryManyKeys) {
  const int keys = FullSizes() ? 1000000 : 20000;
  const std::string config = File("keys.cfg");
  {
    std::ofstream out(config, std::ios::binary);
    out << "<HKEY_CURRENT_USER>\n";
    for (int k = 0; k < keys; ++k) {
      out << "[Software\\Mardovan\\Many\\K" << k / 1000 << "\\K" << k << "]\ninteger\tN\t" << k
          << "\n";
    }
  }
  std::string store;
  ProgramRun run = Import(std::to_string(keys) + " keys", config, &store, kExitSuccess);
  EXPECT_EQ(run.error_output, "");
  StoreContent content = Content(store);
  int found = 0;
  for (const auto& key : content) {
    if (key.second.count("N"))
      ++found;
  }
  EXPECT_EQ(found, keys);
  EXPECT_EQ(content["HKEY_CURRENT_USER\\Software\\Mardovan\\Many\\K0\\K0"].at("N").data[0], 0);
  EXPECT_EQ(testing_support::LoadingValue(content), -1);
  // Nothing grows with the number of keys.
  ExpectMemoryWithin(run, 0, 0);
}

// Key names of 255 bytes and paths of 512 levels are written; one byte or
// one level more refuses the key, which stops writing until the next root
// line.
TEST_F(HostileInputTest, KeyPathsAtAndPastTheLimits) {
  auto levels = [](int count, const std::string& name) {
    std::string path = "Software";
    for (int i = 1; i < count; ++i)
      path += "\\" + name;
    return path;
  };
  const std::string name255(255, 'n');
  const std::string config = File("limits.cfg");
  FileWriter(config).Text("[Software\\" + name255 +
                          "]\nstring\tAt\tname\n"
                          "[Software\\" +
                          name255 +
                          "x]\nstring\tPast\tname\n"
                          "[Software\\Skipped]\nstring\tPast\tskipped\n"
                          "<HKEY_CURRENT_USER>\n"
                          "[" +
                          levels(512, "d") +
                          "]\nstring\tAt\tdepth\n"
                          "[" +
                          levels(513, "e") +
                          "]\nstring\tPast\tdepth\n"
                          "<HKEY_CURRENT_USER>\n"
                          "[" +
                          levels(512, name255) + "]\nstring\tAt\tboth\n");
  std::string store;
  ProgramRun run = Import("key paths at and past the limits", config, &store, kExitNotAllWritten);
  EXPECT_EQ(run.error_output, "");
  StoreContent content = Content(store);
  const std::string root = "HKEY_CURRENT_USER\\";
  EXPECT_EQ(content[root + "Software\\" + name255].count("At"), 1u);
  EXPECT_EQ(content[root + levels(512, "d")].count("At"), 1u);
  EXPECT_EQ(content[root + levels(512, name255)].count("At"), 1u);
  for (const auto& key : content)
    EXPECT_EQ(key.second.count("Past"), 0u) << key.first;
  EXPECT_EQ(content.count(root + "Software\\Skipped"), 0u);
  EXPECT_EQ(content.count(root + "Software\\e"), 0u);
  EXPECT_EQ(testing_support::LoadingValue(content), -1);
}

}  // namespace
