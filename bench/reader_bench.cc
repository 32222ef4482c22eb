// Reading and classifying a 100 MB configuration file, beside `wc -l` on the
// same file in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "import/config_line.h"
#include "import/text_reader.h"

namespace {

constexpr std::size_t kFileBytes = 100u * 1000u * 1000u;

// A configuration file of about 100 MB: keys with string, integer and binary
// values, comments and blank lines, with CR LF line ends as Windows editors
// write them.
const std::string& ConfigFile() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir ? dir : "/tmp") + "/brevlin-reader-bench.cfg";
    std::ofstream out(name, std::ios::binary);
    out << "<[Brevlin]>\r\n<HKEY_CURRENT_USER>\r\n";
    std::size_t written = 0;
    std::string line;
    for (unsigned key = 0; written < kFileBytes; ++key) {
      line = "[Software\\Mardovan\\Brevlin\\Settings\\Group" + std::to_string(key % 300) + "\\Key" +
             std::to_string(key) + "]\r\n";
      for (int v = 0; v < 10; ++v) {
        switch (v % 3) {
          case 0:
            line += "string\tName" + std::to_string(v) + "\tSome text value number " +
                    std::to_string(key * 10 + v) + "\r\n";
            break;
          case 1:
            line +=
                "integer\tCount" + std::to_string(v) + "\t" + std::to_string(key * 37 + v) + "\r\n";
            break;
          default:
            line += "binary\tBytes" + std::to_string(v) + "\t0A,FF,10,20,7F,00,\r\n";
        }
      }
      if (key % 50 == 0)
        line += "<<a comment line\r\n\r\n";
      out << line;
      written += line.size();
    }
    return name;
  }();
  return path;
}

std::size_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return static_cast<std::size_t>(in.tellg());
}

void BM_ReadAndClassify(benchmark::State& state) {
  const std::string& path = ConfigFile();
  std::size_t lines = 0;
  for (auto _ : state) {
    TTextReader reader;
    reader.Open(path);
    std::size_t values = 0;
    while (!reader.Eof()) {
      std::string_view line = reader.ReadLineView();
      LineKind kind = ClassifyLine(line);
      if (kind == LineKind::kValue) {
        ValueFields fields = SplitValueLine(line);
        values += ValueTypeOf(fields.type_word) != ValueType::kNone;
      } else if (kind == LineKind::kKey) {
        benchmark::DoNotOptimize(KeyPathOf(line));
      }
      ++lines;
    }
    reader.Close();
    benchmark::DoNotOptimize(values);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FileSize(path)));
  state.counters["lines"] = static_cast<double>(lines / state.iterations());
}
BENCHMARK(BM_ReadAndClassify)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The floor: counting the line ends of the same file with wc.
void BM_WcL(benchmark::State& state) {
  const std::string command = "wc -l < '" + ConfigFile() + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0)
      state.SkipWithError("wc -l failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FileSize(ConfigFile())));
}
BENCHMARK(BM_WcL)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
