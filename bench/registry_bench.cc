// The cost of the registry store under an import's call pattern.
//
// Replays what an import does for each key of a configuration file (the
// write probe, open or create, ten value writes, close) for 10,000 keys into
// a fresh store, beside two floors written directly against SQLite on the
// same tables and settings: (a) one transaction per key, the least that the
// store's durability rule allows, and (b) one transaction for everything.
// Ends with the ratios of the replay to both floors.
//
//   build/registry_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/globals.h"
#include "registry/registry_object.h"
#include "regstore/regstore.h"
#include "regstore/schema.h"

namespace {

constexpr int kKeys = 10000;
constexpr int kValuesPerKey = 10;

// A folder for the stores of one run, removed at the end.
class BenchFolder {
 public:
  BenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "regbench.XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~BenchFolder() {
    std::error_code ignored;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ignored);
  }
  std::string NewStore() { return path_ + "/store" + std::to_string(count_++) + ".db"; }

 private:
  std::string path_;
  int count_ = 0;
};

BenchFolder& Folder() {
  static BenchFolder folder;
  return folder;
}

std::string KeyName(int k) {
  char name[32];
  std::snprintf(name, sizeof(name), "Key%05d", k);
  return name;
}

// The ten values of every key: four texts, three integers and three blocks of
// bytes, as a configuration file mixes them.
struct Row {
  std::string name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

std::vector<Row> RowsOfKey(int k) {
  std::vector<Row> rows;
  for (int v = 0; v < kValuesPerKey; ++v) {
    Row row;
    row.name = "Value" + std::to_string(v);
    if (v < 4) {
      std::string text = "Text of value " + std::to_string(v) + " in key " + std::to_string(k);
      row.type = plat::kRegSz;
      row.data.assign(text.begin(), text.end());
      row.data.push_back(0);
    } else if (v < 7) {
      std::uint32_t n = static_cast<std::uint32_t>(k * 16 + v);
      row.type = plat::kRegDword;
      row.data = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                  static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    } else {
      row.type = plat::kRegBinary;
      for (int b = 0; b < 12; ++b)
        row.data.push_back(static_cast<std::uint8_t>(k + b * v));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

const std::vector<std::vector<Row>>& AllRows() {
  static const std::vector<std::vector<Row>> rows = [] {
    std::vector<std::vector<Row>> all;
    for (int k = 0; k < kKeys; ++k)
      all.push_back(RowsOfKey(k));
    return all;
  }();
  return rows;
}

void WriteRows(TRegistry& reg, const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    if (row.type == plat::kRegSz) {
      reg.PutText(row.name, std::string(row.data.begin(), row.data.end() - 1));
    } else if (row.type == plat::kRegDword) {
      reg.PutDword(row.name, static_cast<std::int32_t>(row.data[0] | row.data[1] << 8 |
                                                       row.data[2] << 16 | row.data[3] << 24));
    } else {
      reg.PutBytes(row.name, row.data.data(), static_cast<std::int32_t>(row.data.size()));
    }
  }
}

// The import's pattern through the registry layer: probe, open (creating),
// ten writes, close.
void BM_ImportReplay(benchmark::State& state) {
  const bool close_each_key = state.range(0) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    regstore::UseStorePath(Folder().NewStore());
    regstore::ConnectStore(nullptr);
    state.ResumeTiming();
    {
      TRegistry reg;
      reg.SelectRoot(plat::kHkeyCurrentUser);
      for (int k = 0; k < kKeys; ++k) {
        const std::string path = "Software\\BrevlinBench\\" + KeyName(k);
        if (!CanWriteRegKey(path, plat::kHkeyCurrentUser))
          state.SkipWithError("probe refused");
        if (!reg.OpenPath("\\" + path, true))
          state.SkipWithError("open failed");
        WriteRows(reg, AllRows()[k]);
        if (close_each_key)
          reg.ClosePath();
      }
    }
    state.PauseTiming();
    regstore::UseStorePath("");
    state.ResumeTiming();
  }
  state.counters["values"] = kKeys * kValuesPerKey;
}

sqlite3* OpenFloorStore() {
  sqlite3* db = nullptr;
  sqlite3_open_v2(Folder().NewStore().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                  nullptr);
  regstore::ConfigureStoreConnection(db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_exec(db, regstore::StoreSchemaSql(), nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "INSERT INTO keys(id, parent, name, folded) VALUES (10, 2, 'Software', 'SOFTWARE'),"
               " (11, 10, 'BrevlinBench', 'BREVLINBENCH');"
               "COMMIT",
               nullptr, nullptr, nullptr);
  return db;
}

// The same rows written straight into the store's tables with prepared
// statements: one transaction per key, or one for all keys.
void BM_SqliteFloor(benchmark::State& state) {
  const bool transaction_per_key = state.range(0) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3* db = OpenFloorStore();
    sqlite3_stmt* begin = nullptr;
    sqlite3_stmt* commit = nullptr;
    sqlite3_stmt* insert_key = nullptr;
    sqlite3_stmt* insert_value = nullptr;
    sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr);
    sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO keys(parent, name, folded) VALUES(11, ?1, ?2)", -1,
                       &insert_key, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO vals(key, name, type, data, folded) VALUES(?1, ?2, ?3, ?4, ?5)",
                       -1, &insert_value, nullptr);
    std::string folded;
    state.ResumeTiming();

    auto step = [&](sqlite3_stmt* stmt) {
      if (sqlite3_step(stmt) != SQLITE_DONE)
        state.SkipWithError(sqlite3_errmsg(db));
      sqlite3_reset(stmt);
    };
    if (!transaction_per_key)
      step(begin);
    for (int k = 0; k < kKeys; ++k) {
      if (transaction_per_key)
        step(begin);
      const std::string name = KeyName(k);
      sqlite3_bind_text(insert_key, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
      regstore::FoldNameInto(name, &folded);
      sqlite3_bind_text(insert_key, 2, folded.data(), static_cast<int>(folded.size()),
                        SQLITE_STATIC);
      step(insert_key);
      const sqlite3_int64 key_id = sqlite3_last_insert_rowid(db);
      for (const Row& row : AllRows()[k]) {
        sqlite3_bind_int64(insert_value, 1, key_id);
        sqlite3_bind_text(insert_value, 2, row.name.data(), static_cast<int>(row.name.size()),
                          SQLITE_STATIC);
        sqlite3_bind_int64(insert_value, 3, row.type);
        sqlite3_bind_blob(insert_value, 4, row.data.data(), static_cast<int>(row.data.size()),
                          SQLITE_STATIC);
        regstore::FoldNameInto(row.name, &folded);
        sqlite3_bind_text(insert_value, 5, folded.data(), static_cast<int>(folded.size()),
                          SQLITE_STATIC);
        step(insert_value);
      }
      if (transaction_per_key)
        step(commit);
    }
    if (!transaction_per_key)
      step(commit);

    state.PauseTiming();
    for (sqlite3_stmt* stmt : {begin, commit, insert_key, insert_value})
      sqlite3_finalize(stmt);
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.counters["values"] = kKeys * kValuesPerKey;
}

BENCHMARK(BM_ImportReplay)->ArgName("close_each_key")->Arg(1)->Arg(0);
BENCHMARK(BM_SqliteFloor)->ArgName("transaction_per_key")->Arg(1)->Arg(0);

// Prints the usual table, keeps the mean time of every benchmark, and adds
// the ratios of the replay to the two floors.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        Sum& sum = sums_[run.benchmark_name()];
        sum.seconds += run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        sum.count += 1;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto mean = [&](const std::string& name) {
      auto it = sums_.find(name);
      return it == sums_.end() || it->second.count == 0 ? 0.0
                                                        : it->second.seconds / it->second.count;
    };
    const double replay = mean("BM_ImportReplay/close_each_key:1");
    const double chained = mean("BM_ImportReplay/close_each_key:0");
    const double floor_a = mean("BM_SqliteFloor/transaction_per_key:1");
    const double floor_b = mean("BM_SqliteFloor/transaction_per_key:0");
    if (replay <= 0 || floor_a <= 0 || floor_b <= 0)
      return;
    std::printf("\n%d keys x %d values, mean wall time per run:\n", kKeys, kValuesPerKey);
    std::printf("  replay (probe, open, 10 writes, close)   %8.3f s\n", replay);
    if (chained > 0)
      std::printf("  replay, key closed by the next open      %8.3f s\n", chained);
    std::printf("  floor (a) one transaction per key        %8.3f s\n", floor_a);
    std::printf("  floor (b) one transaction for all        %8.3f s\n", floor_b);
    std::printf("  replay / floor (a) = %.2f   replay / floor (b) = %.2f\n", replay / floor_a,
                replay / floor_b);
    if (chained > 0) {
      std::printf("  chained replay / floor (a) = %.2f   chained / floor (b) = %.2f\n",
                  chained / floor_a, chained / floor_b);
    }
  }

 private:
  struct Sum {
    double seconds = 0;
    int count = 0;
  };
  std::map<std::string, Sum> sums_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  AllRows();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
