// Power cuts during imports: register-brevlin and regstore import, one after
// the other into one store, under the test file layer, which keeps what
// each program synced and at the cut drops a random part of what none of
// them synced. After each cut the store must be sound, every import that had
// ended with success must be whole, the import that was cut must have left a
// beginning of its file (register-brevlin, which commits in groups of whole
// keys) or all or nothing of it (regstore import, one transaction), and the
// store must take the next change. From the second import on, another
// program reads the store, as one may at any time: the importing program is
// then not the last to close it, and SQLite leaves the syncing to whoever is.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fault_tallies.h"
#include "testing/posix/fault_fixture.h"
#include "testing/posix/file_layer.h"
#include "testing/posix/power_cut.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace fault_tests {

namespace fs = std::filesystem;
using testing_support::BuiltProgram;
using testing_support::FileLayerSetup;
using testing_support::JoinPath;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::StoreContent;
using testing_support::Workload;

namespace {

// One import of the sequence: register-brevlin with a configuration file,
// or regstore import with a .reg file.
struct Import {
  bool brevlin = false;
  std::string file;
  std::string tree;   // the key below HKEY_CURRENT_USER that it fills
  Workload workload;  // register-brevlin's
};

Import RegImport(const std::string& folder, const std::string& name, int keys) {
  Import import;
  import.tree = "Software\\Cut\\" + name;
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int k = 0; k < keys; ++k) {
    text += "[HKEY_CURRENT_USER\\" + import.tree + "\\Key" + std::to_string(k) + "]\r\n";
    for (int v = 0; v < 4; ++v)
      text +=
          "\"V" + std::to_string(v) + "\"=\"" + name + " " + std::to_string(k * 10 + v) + "\"\r\n";
    text += "\r\n";
  }
  import.file = JoinPath(folder, name + ".reg");
  testing_support::WriteFile(import.file, text);
  return import;
}

Import BrevlinImport(const std::string& folder, const std::string& name, int keys) {
  Import import;
  import.brevlin = true;
  import.workload = testing_support::MakeWorkload(name, keys, 6);
  import.tree = import.workload.tree;
  import.file = JoinPath(folder, name + ".cfg");
  testing_support::WriteFile(import.file, import.workload.text);
  return import;
}

// The part of `content` below `tree`.
StoreContent Below(const StoreContent& content, const std::string& tree) {
  StoreContent part;
  const std::string prefix = "HKEY_CURRENT_USER\\" + tree;
  for (const auto& key : content) {
    if (key.first.compare(0, prefix.size(), prefix) == 0 &&
        (key.first.size() == prefix.size() || key.first[prefix.size()] == '\\'))
      part.insert(key);
  }
  return part;
}

// Another program that reads the store and keeps it open: read-only, so
// that it never writes the store, not even when it closes.
class Reader {
 public:
  explicit Reader(const std::string& store) {
    if (sqlite3_open_v2(store.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
      sqlite3_exec(db_, "SELECT count(*) FROM keys", nullptr, nullptr, nullptr);
    }
  }
  ~Reader() { sqlite3_close(db_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

class PowerCuts {
 public:
  explicit PowerCuts(const std::string& folder) : folder_(folder) {
    imports_ = {BrevlinImport(folder, "First", 40), RegImport(folder, "Second", 30),
                BrevlinImport(folder, "Third", 60), RegImport(folder, "Fourth", 40)};
  }

  FaultTally Run(int cuts);

 private:
  ProgramRun RunImport(const Import& import, const std::string& store,
                       const FileLayerSetup& layer) {
    ProgramOptions options;
    options.arguments = import.brevlin ? std::vector<std::string>{"/IC", import.file}
                                       : std::vector<std::string>{"import", import.file};
    options.store = store;
    options.environment = testing_support::FileLayerEnvironment(layer);
    return testing_support::RunProgram(
        BuiltProgram(import.brevlin ? "register-brevlin" : "regstore"), options);
  }
  // One cut at change `point` of the whole sequence (past its end: once
  // every import has ended). Answers the index of the import cut, or the
  // number of imports.
  std::size_t CutOnce(int index, long point, std::uint64_t seed);

  std::string folder_;
  std::vector<Import> imports_;
  std::vector<StoreContent> whole_;  // each import's part of a store it completed
  FaultTally tally_;
};

std::size_t PowerCuts::CutOnce(int index, long point, std::uint64_t seed) {
  const std::string store = JoinPath(testing_support::NewTempDir(), "registry.db");
  FileLayerSetup layer;
  layer.store = store;
  layer.journal = store + ".journal";
  layer.report = store + ".report";
  layer.seed = seed;
  std::vector<bool> ended(imports_.size(), false);
  std::size_t cut = imports_.size();
  long remaining = point;
  std::unique_ptr<Reader> reader;
  for (std::size_t i = 0; i < imports_.size() && cut == imports_.size(); ++i) {
    if (i == 1)
      reader = std::make_unique<Reader>(store);
    layer.cut_at = remaining;
    const ProgramRun run = RunImport(imports_[i], store, layer);
    const auto report = testing_support::ReadFileLayerReport(layer.report);
    if (report.cut) {
      cut = i;
      if (run.signal != SIGKILL)
        ADD_FAILURE() << "cut " << index << ": the cut did not end the program";
      break;
    }
    if (run.exit_code != 0) {
      ADD_FAILURE() << "cut " << index << ": import " << i << " failed before the cut:\n"
                    << run.error_output;
      return cut;
    }
    ended[i] = true;
    remaining -= report.changes;
  }
  if (cut == imports_.size())
    testing_support::CutPower(layer.journal.c_str(), seed);
  ++tally_.faults;
  reader.reset();
  // The machine starts again: the shared memory beside the store is gone.
  std::error_code ignored;
  fs::remove(store + "-shm", ignored);

  const std::string where = "cut " + std::to_string(index) + " (seed " + std::to_string(seed) +
                            ", in import " + std::to_string(cut) + ")";
  const bool any_ended = ended[0];
  if (!fs::exists(store) || fs::file_size(store) == 0) {
    if (any_ended) {
      ++tally_.lost_changes;
      ADD_FAILURE() << where << ": the store of a completed import is gone";
    }
    return cut;
  }
  const std::string integrity = testing_support::StoreIntegrity(store);
  const std::string problems = testing_support::StoreCheckProblems(store);
  if (integrity != "ok" || !problems.empty()) {
    ++tally_.broken_stores;
    ADD_FAILURE() << where << ": the store is not sound: " << integrity << "\n" << problems;
    return cut;
  }
  StoreContent content;
  std::string error;
  if (!testing_support::ReadStoreContent(store, &content, &error)) {
    ++tally_.broken_stores;
    ADD_FAILURE() << where << ": the store cannot be read: " << error;
    return cut;
  }
  for (std::size_t i = 0; i < imports_.size(); ++i) {
    const StoreContent part = Below(content, imports_[i].tree);
    if (ended[i]) {
      const int lost = testing_support::LostValues(whole_[i], part);
      if (lost > 0 || part.size() != whole_[i].size()) {
        tally_.lost_changes += std::max(lost, 1);
        ADD_FAILURE() << where << ": import " << i << " had ended with success, but " << lost
                      << " of its values and " << whole_[i].size() - part.size()
                      << " of its keys are gone";
      }
    } else if (i == cut && imports_[i].brevlin) {
      std::string problem;
      if (testing_support::WholeKeys(content, imports_[i].workload, &problem) < 0) {
        ++tally_.broken_stores;
        ADD_FAILURE() << where << ": the import that was cut left " << problem;
      }
    } else if (!part.empty() && !(part == whole_[i])) {
      ++tally_.broken_stores;
      ADD_FAILURE() << where << ": import " << i << " is in the store in part";
    }
  }
  ProgramOptions next;
  next.arguments = {"add", "HKCU\\Software\\Cut\\After", "/v", "V", "/d", "x", "/f"};
  next.store = store;
  const ProgramRun after = testing_support::RunProgram(BuiltProgram("regstore"), next);
  if (after.exit_code != 0) {
    ++tally_.broken_stores;
    ADD_FAILURE() << where << ": the store takes no change after the cut:\n" << after.error_output;
  }
  return cut;
}

FaultTally PowerCuts::Run(int cuts) {
  if (!testing_support::FileLayerBuilt()) {
    ADD_FAILURE() << "the test file layer has not been built";
    return tally_;
  }
  // A run without a cut: each import's part of the store, and how many
  // changes the whole sequence makes.
  const std::string store = JoinPath(testing_support::NewTempDir(), "registry.db");
  FileLayerSetup layer;
  layer.store = store;
  layer.report = store + ".report";
  long changes = 0;
  std::unique_ptr<Reader> reader;
  for (const Import& import : imports_) {
    if (&import == &imports_[1])
      reader = std::make_unique<Reader>(store);
    const ProgramRun run = RunImport(import, store, layer);
    EXPECT_EQ(run.exit_code, 0) << run.error_output;
    changes += testing_support::ReadFileLayerReport(layer.report).changes;
  }
  reader.reset();
  StoreContent content;
  std::string error;
  EXPECT_TRUE(testing_support::ReadStoreContent(store, &content, &error)) << error;
  for (const Import& import : imports_) {
    whole_.push_back(Below(content, import.tree));
    EXPECT_FALSE(whole_.back().empty()) << import.file;
  }

  std::mt19937_64 random(2026121);
  std::vector<int> cut_in(imports_.size() + 1, 0);
  for (int i = 0; i < cuts; ++i) {
    const long point = std::uniform_int_distribution<long>(1, changes + changes / 20 + 1)(random);
    ++cut_in[CutOnce(i, point, random())];
  }
  int brevlin = 0;
  int regstore = 0;
  for (std::size_t i = 0; i < imports_.size(); ++i)
    (imports_[i].brevlin ? brevlin : regstore) += cut_in[i];
  std::printf(
      "power cuts: %d cuts at random points of %ld changes (%d during register-brevlin imports, "
      "%d during regstore imports, %d after the last), %d stores unsound or half imported, %d "
      "values lost of imports that had ended with success\n",
      cuts, changes, brevlin, regstore, cut_in.back(), tally_.broken_stores, tally_.lost_changes);
  return tally_;
}

}  // namespace

FaultTally RunPowerCuts(const std::string& folder, int cuts) {
  PowerCuts power_cuts(folder);
  return power_cuts.Run(cuts);
}

namespace {

// BREVLIN_POWER_CUTS sets the number of cuts.
TEST(PowerCutTest, ImportsSurviveCutsAtRandomPoints) {
  const FaultTally tally = RunPowerCuts(testing_support::NewTempDir(),
                                        testing_support::EnvCount("BREVLIN_POWER_CUTS", 120));
  EXPECT_EQ(tally.broken_stores, 0);
  EXPECT_EQ(tally.lost_changes, 0);
}

}  // namespace

}  // namespace fault_tests
