// Importing a generated configuration file into a fresh host store: 10,000
// keys of 10 values each, and ten times that for the memory check.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "import/imp_exp_reg.h"
#include "platform/ui.h"
#include "testing/registry_fixture.h"
#include "testing/temp_files.h"

namespace {

// Keys spread over 300 parents, each with strings, integers and binaries.
// Written line by line so that the benchmark itself holds no large text.
std::string WriteConfigFile(int keys) {
  std::string path = testing_support::WriteTempFile("", "bench-" + std::to_string(keys) + ".cfg");
  std::ofstream out(path, std::ios::binary);
  out << "<[Brevlin]>\r\n<HKEY_CURRENT_USER>\r\n";
  for (int k = 0; k < keys; ++k) {
    out << "[Software\\Mardovan\\BrevlinBench\\Group" << k % 300 << "\\Key" << k << "]\r\n";
    for (int v = 0; v < 10; ++v) {
      switch (v % 3) {
        case 0:
          out << "string\tText" << v << "\tA text value for key " << k << "\r\n";
          break;
        case 1:
          out << "integer\tNumber" << v << "\t" << k * 1000 + v << "\r\n";
          break;
        default:
          out << "binary\tBytes" << v << "\t0A,FF,10,20,30,40,50,60,\r\n";
      }
    }
  }
  return path;
}

const std::string& ConfigFile(int keys) {
  static std::map<int, std::string> files;
  auto it = files.find(keys);
  if (it == files.end())
    it = files.emplace(keys, WriteConfigFile(keys)).first;
  return it->second;
}

long PeakResidentKiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_ImportConfigFile(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  const std::string& file = ConfigFile(keys);
  bool complete = true;
  for (auto _ : state) {
    state.PauseTiming();
    {
      testing_support::ScopedTestRegistry fresh_store;
      state.ResumeTiming();
      complete =
          ImportConfigFile(plat::kHkeyCurrentUser, file, "Brevlin", false, ImportScope::kBoth) &&
          complete;
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  if (!complete)
    state.SkipWithError("the import did not complete");
  state.counters["values"] = keys * 10;
  state.counters["peak_rss_MiB"] = static_cast<double>(PeakResidentKiB()) / 1024.0;
}
BENCHMARK(BM_ImportConfigFile)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
// Run alone (--benchmark_filter=/100000) to read its peak memory.
BENCHMARK(BM_ImportConfigFile)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
