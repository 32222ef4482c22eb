// Every regstore command that writes, against every fault a store meets: a
// full disk, a failed write, a failed sync, a read-only store, a store
// replaced while the command runs, a store another process holds past the
// wait, and a command killed mid-way. Whatever happens, the store stays
// sound and holds the state before the command or the state after it, never
// a part of it; and a command whose change is not in the store says so by its
// exit status and prints no success line.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fault_tallies.h"
#include "testing/posix/fault_fixture.h"
#include "testing/posix/file_layer.h"
#include "testing/posix/program_runner.h"
#include "testing/temp_files.h"

namespace fault_tests {

namespace fs = std::filesystem;
using testing_support::BuiltProgram;
using testing_support::FileLayerSetup;
using testing_support::JoinPath;
using testing_support::ProgramOptions;
using testing_support::ProgramRun;
using testing_support::RunningProgram;
using testing_support::RunProgram;
using testing_support::WriteFile;

namespace {

const char kSuccessLine[] = "The operation completed successfully.";

// Closes an SQLite connection at the end of the scope.
struct Database {
  sqlite3* db = nullptr;
  ~Database() { sqlite3_close(db); }
};

// Everything a store holds as text, independent of row ids: each key by its
// full path with its flags, each value with its type and data, sorted.
// Starts with "unreadable" when the store cannot be read.
std::string StoreState(const std::string& store) {
  Database d;
  if (sqlite3_open_v2(store.c_str(), &d.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    return std::string("unreadable: ") + sqlite3_errmsg(d.db);
  sqlite3_busy_timeout(d.db, 2000);
  struct Key {
    std::int64_t parent;
    std::string name;
    std::int64_t flags;
  };
  std::map<std::int64_t, Key> keys;
  std::vector<std::string> lines;
  auto text = [](sqlite3_stmt* stmt, int i) {
    const char* p = reinterpret_cast<const char*>(sqlite3_column_blob(stmt, i));
    return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
  };
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(d.db, "SELECT id, parent, name, flags FROM keys", -1, &stmt, nullptr);
  while (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
    keys[sqlite3_column_int64(stmt, 0)] = {sqlite3_column_int64(stmt, 1), text(stmt, 2),
                                           sqlite3_column_int64(stmt, 3)};
  if (rc == SQLITE_OK)
    rc = sqlite3_finalize(stmt);
  auto path = [&](std::int64_t id) {
    std::string full;
    for (int depth = 0; depth < 600 && keys.count(id); ++depth) {
      full = keys[id].name + (full.empty() ? "" : "\\" + full);
      id = keys[id].parent;
    }
    return id == 0 ? full : "(no parent) " + full;
  };
  for (const auto& key : keys)
    lines.push_back(path(key.first) + " flags " + std::to_string(key.second.flags));
  if (rc == SQLITE_OK)
    rc =
        sqlite3_prepare_v2(d.db, "SELECT key, name, type, hex(data) FROM vals", -1, &stmt, nullptr);
  while (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    lines.push_back(path(sqlite3_column_int64(stmt, 0)) + " : " + text(stmt, 1) + " = " +
                    std::to_string(sqlite3_column_int64(stmt, 2)) + ":" + text(stmt, 3));
  }
  if (rc == SQLITE_OK)
    rc = sqlite3_finalize(stmt);
  if (rc != SQLITE_OK)
    return std::string("unreadable: ") + sqlite3_errmsg(d.db);
  std::sort(lines.begin(), lines.end());
  std::string state;
  for (const std::string& line : lines)
    state += line + "\n";
  return state;
}

// A .reg file of `keys` keys below Software\Faults\Imported with three
// values each, and changes to the keys the base store holds.
std::string ImportFile(int keys) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int k = 0; k < keys; ++k) {
    text += "[HKEY_CURRENT_USER\\Software\\Faults\\Imported\\Key" + std::to_string(k) + "]\r\n";
    text += "\"Text\"=\"imported text " + std::to_string(k) + "\"\r\n";
    text += "\"Number\"=dword:" + std::string(8 - std::to_string(k % 10).size(), '0') +
            std::to_string(k % 10) + "\r\n";
    text += "\"Bytes\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c\r\n\r\n";
  }
  text +=
      "[HKEY_CURRENT_USER\\Software\\Faults\\Old]\r\n\"Text\"=\"new text\"\r\n\"Number\"=-\r\n\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Faults\\Old\\Sub]\r\n";
  return text;
}

struct WriteCommand {
  const char* name;
  std::vector<std::string> arguments;  // the import's file is appended
};

std::vector<WriteCommand> WriteCommands() {
  const std::string old_key = "HKCU\\Software\\Faults\\Old";
  return {
      {"add a key and value",
       {"add", "HKCU\\Software\\Faults\\New", "/v", "Name", "/d", "x", "/f"}},
      {"add over a value", {"add", old_key, "/v", "Text", "/d", "changed", "/f"}},
      {"delete a key", {"delete", old_key, "/f"}},
      {"delete a value", {"delete", old_key, "/v", "Number", "/f"}},
      {"delete every value", {"delete", old_key, "/va", "/f"}},
      {"copy a tree", {"copy", old_key, "HKCU\\Software\\Faults\\Copy", "/s", "/f"}},
      {"import", {"import"}},
      {"protect", {"protect", old_key}},
      {"unprotect", {"unprotect", "HKCU\\Software\\Faults\\Protected"}},
      {"lock", {"lock", old_key}},
      {"unlock", {"unlock", "HKCU\\Software\\Faults\\Locked"}},
  };
}

class RegstoreFaults {
 public:
  explicit RegstoreFaults(const std::string& folder)
      : regstore_(BuiltProgram("regstore")), folder_(folder) {}

  FaultTally Run();

 private:
  ProgramRun Regstore(const std::vector<std::string>& arguments, const std::string& store,
                      const std::vector<std::string>& environment = {}) {
    ProgramOptions options;
    options.arguments = arguments;
    options.store = store;
    options.environment = environment;
    return RunProgram(regstore_, options);
  }
  // A copy of the base store in a folder of its own.
  std::string FreshCopy() {
    const std::string store = JoinPath(testing_support::NewTempDir(), "registry.db");
    fs::copy_file(base_, store);
    return store;
  }
  std::vector<std::string> Arguments(const WriteCommand& c) const {
    std::vector<std::string> arguments = c.arguments;
    if (arguments[0] == "import")
      arguments.push_back(import_file_);
    return arguments;
  }
  bool MakeBase();
  void FaultsOf(const WriteCommand& c, std::string* new_state);
  // Judges one faulty run of `c` on `store`: sound, old or new state, and
  // no success unless the change is there.
  void Judge(const WriteCommand& c, const std::string& fault, const ProgramRun& run,
             const std::string& store, const std::string& new_state);
  void FullDisk(const std::vector<WriteCommand>& commands,
                const std::vector<std::string>& new_states);
  void Busy(const std::vector<WriteCommand>& commands, const std::vector<std::string>& new_states);

  std::string regstore_;
  std::string folder_;
  std::string base_;
  std::string base_state_;
  std::string other_;  // another store, put in place of the one a command writes
  std::string import_file_;
  FaultTally tally_;
};

bool RegstoreFaults::MakeBase() {
  base_ = JoinPath(testing_support::NewTempDir(), "registry.db");
  const std::string setup = JoinPath(folder_, "base.reg");
  WriteFile(setup,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Faults\\Old]\r\n"
            "@=\"default\"\r\n\"Text\"=\"old text\"\r\n\"Number\"=dword:0000002a\r\n"
            "\"Bytes\"=hex:01,02,03\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Faults\\Old\\Sub]\r\n\"Inner\"=\"inner\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Faults\\Locked]\r\n\"Kept\"=\"kept\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Faults\\Protected]\r\n\"Kept\"=\"kept\"\r\n");
  import_file_ = JoinPath(folder_, "import.reg");
  WriteFile(import_file_, ImportFile(300));
  const std::vector<std::vector<std::string>> steps = {
      {"import", setup},
      {"lock", "HKCU\\Software\\Faults\\Locked"},
      {"protect", "HKCU\\Software\\Faults\\Protected"}};
  for (const auto& step : steps) {
    const ProgramRun run = Regstore(step, base_);
    if (run.exit_code != 0) {
      ADD_FAILURE() << "cannot make the base store: " << step[0] << ": " << run.error_output;
      return false;
    }
  }
  base_state_ = StoreState(base_);
  other_ = JoinPath(testing_support::NewTempDir(), "registry.db");
  const ProgramRun other =
      Regstore({"add", "HKCU\\Software\\Other", "/v", "V", "/d", "o", "/f"}, other_);
  return other.exit_code == 0;
}

void RegstoreFaults::Judge(const WriteCommand& c, const std::string& fault, const ProgramRun& run,
                           const std::string& store, const std::string& new_state) {
  ++tally_.faults;
  const std::string what = std::string(c.name) + " under " + fault;
  const bool success_line = run.output.find(kSuccessLine) != std::string::npos;
  const bool failed = run.signal == 0 && run.exit_code != 0;
  std::string integrity = testing_support::StoreIntegrity(store);
  const std::string problems = testing_support::StoreCheckProblems(store);
  if (integrity == "ok" && !problems.empty())
    integrity = problems;
  const std::string state = StoreState(store);
  if (integrity != "ok" || (state != base_state_ && state != new_state)) {
    ++tally_.broken_stores;
    ADD_FAILURE() << what << " left a store that is "
                  << (integrity != "ok" ? "not sound: " + integrity
                                        : "neither as before nor as after:\n" + state)
                  << "\n"
                  << run.error_output;
    return;
  }
  if (state == base_state_ && (!failed || success_line)) {
    if (run.signal == 0 || success_line) {
      ++tally_.false_successes;
      ADD_FAILURE() << what << " reported success (exit " << run.exit_code
                    << ") although its change is not in the store:\n"
                    << run.output << run.error_output;
    }
    return;
  }
  if (state != base_state_ && run.signal == 0 && run.exit_code == 0 && !success_line) {
    ADD_FAILURE() << what << " ended with 0 but without its success line";
    return;
  }
  if (failed) {
    if (run.error_output.empty()) {
      ADD_FAILURE() << what << " failed without saying why: " << run.error_output;
      return;
    }
    ++tally_.clear_failures;
  }
}

// The commands on a store whose disk is full: a file system of 4 MB of its
// own, filled but for a little room that differs from command to command,
// where the machine allows a private mount, else a limit on the size of the
// files the command writes.
void RegstoreFaults::FullDisk(const std::vector<WriteCommand>& commands,
                              const std::vector<std::string>& new_states) {
  const std::string mount_point = testing_support::NewTempDir();
  const std::string out = testing_support::NewTempDir();
  const pid_t child = ::fork();
  if (child == 0) {
    if (!testing_support::MountSmallPrivateDisk(mount_point))
      ::_exit(77);
    for (std::size_t i = 0; i < commands.size(); ++i) {
      for (int room : {0, 8, 64}) {
        const std::string store = mount_point + "/registry.db";
        const std::string filler = mount_point + "/filler";
        fs::copy_file(base_, store);
        {
          std::FILE* f = std::fopen(filler.c_str(), "wb");
          static const char block[4096] = {};
          while (f && std::fwrite(block, 1, sizeof(block), f) == sizeof(block) &&
                 std::fflush(f) == 0) {
          }
          if (f)
            std::fclose(f);
        }
        const auto size = fs::file_size(filler);
        fs::resize_file(filler, size > room * 1024u ? size - room * 1024u : 0);
        const ProgramRun run = Regstore(Arguments(commands[i]), store);
        const std::string name = out + "/" + std::to_string(i) + "-" + std::to_string(room);
        WriteFile(name + ".run", std::to_string(run.exit_code) + " " + std::to_string(run.signal) +
                                     "\n" + run.output + "\x1f" + run.error_output);
        std::error_code ignored;
        for (const char* suffix : {"", "-wal"})
          fs::copy_file(store + suffix, name + ".db" + suffix, ignored);
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
          fs::remove(store + suffix, ignored);
        fs::remove(filler, ignored);
      }
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_GT(child, 0);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    for (std::size_t i = 0; i < commands.size(); ++i) {
      for (int room : {0, 8, 64}) {
        const std::string name = out + "/" + std::to_string(i) + "-" + std::to_string(room);
        const std::string saved = testing_support::ReadWholeFile(name + ".run");
        ProgramRun run;
        std::istringstream head(saved);
        head >> run.exit_code >> run.signal;
        const std::size_t body = saved.find('\n') + 1;
        const std::size_t split = saved.find('\x1f');
        ASSERT_NE(split, std::string::npos) << "no record of " << commands[i].name;
        run.output = saved.substr(body, split - body);
        run.error_output = saved.substr(split + 1);
        Judge(commands[i], "a full disk with " + std::to_string(room) + " KiB free", run,
              name + ".db", new_states[i]);
      }
    }
    return;
  }
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const std::string store = FreshCopy();
    ProgramOptions options;
    options.arguments = Arguments(commands[i]);
    options.store = store;
    options.file_size_limit = static_cast<long long>(fs::file_size(store));
    Judge(commands[i], "a file size limit", RunProgram(regstore_, options), store, new_states[i]);
  }
}

// All commands at once, each on its own store whose write lock another
// connection holds until every command has ended: each waits its bound and
// fails.
void RegstoreFaults::Busy(const std::vector<WriteCommand>& commands,
                          const std::vector<std::string>& new_states) {
  std::vector<std::string> stores;
  std::vector<std::unique_ptr<testing_support::StoreLock>> locks;
  std::vector<std::unique_ptr<RunningProgram>> programs;
  for (const WriteCommand& c : commands) {
    stores.push_back(FreshCopy());
    locks.push_back(std::make_unique<testing_support::StoreLock>(stores.back()));
    ASSERT_TRUE(locks.back()->TryTake());
    ProgramOptions options;
    options.arguments = Arguments(c);
    options.store = stores.back();
    programs.push_back(std::make_unique<RunningProgram>(regstore_, options));
  }
  std::vector<ProgramRun> runs;
  for (auto& program : programs)
    runs.push_back(program->Wait());
  locks.clear();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    Judge(commands[i], "a store busy past the wait", runs[i], stores[i], new_states[i]);
    EXPECT_EQ(StoreState(stores[i]), base_state_) << commands[i].name << " wrote a busy store";
  }
}

// Every fault but the full disk and the busy store against `c`, with the
// state the command leaves on a sound store in `new_state`.
void RegstoreFaults::FaultsOf(const WriteCommand& c, std::string* new_state) {
  SCOPED_TRACE(c.name);
  // A clean run under the layer: the state after, and how many writes,
  // syncs and changes the command makes.
  const std::string store = FreshCopy();
  FileLayerSetup count;
  count.store = store;
  count.report = JoinPath(folder_, "report");
  const ProgramRun clean = Regstore(Arguments(c), store, FileLayerEnvironment(count));
  const auto seen = testing_support::ReadFileLayerReport(count.report);
  EXPECT_EQ(clean.exit_code, 0) << clean.error_output;
  *new_state = StoreState(store);
  EXPECT_NE(*new_state, base_state_) << "the command changes nothing";
  EXPECT_TRUE(seen.read && seen.writes > 0) << "the layer saw no write";

  auto layered = [&](const std::string& fault, FileLayerSetup setup) {
    const std::string copy = FreshCopy();
    setup.store = copy;
    Judge(c, fault, Regstore(Arguments(c), copy, FileLayerEnvironment(setup)), copy, *new_state);
  };
  for (long n : std::set<long>{1, (seen.writes + 1) / 2, seen.writes}) {
    FileLayerSetup setup;
    setup.fail_write = n;
    layered("an I/O error on write " + std::to_string(n), setup);
  }
  for (long n = 1; n <= std::min(seen.syncs, 3L); ++n) {
    FileLayerSetup setup;
    setup.fail_sync = n;
    layered("an I/O error on sync " + std::to_string(n), setup);
  }
  {
    const std::string copy = FreshCopy();
    ASSERT_EQ(::chmod(copy.c_str(), 0444), 0);
    const std::string bytes = testing_support::ReadWholeFile(copy);
    Judge(c, "a read-only store", Regstore(Arguments(c), copy), copy, *new_state);
    EXPECT_EQ(testing_support::ReadWholeFile(copy), bytes) << c.name << " wrote a read-only store";
    ::chmod(copy.c_str(), 0644);
  }
  // Stopped before a change and killed there.
  for (long n : std::set<long>{1, (seen.changes + 1) / 2, seen.changes}) {
    const std::string copy = FreshCopy();
    FileLayerSetup setup;
    setup.store = copy;
    setup.stop_at = n;
    ProgramOptions options;
    options.arguments = Arguments(c);
    options.store = copy;
    options.environment = FileLayerEnvironment(setup);
    RunningProgram running(regstore_, options);
    EXPECT_TRUE(running.WaitUntilStopped(20)) << c.name << " never reached change " << n;
    Judge(c, "a kill before change " + std::to_string(n), running.Kill(), copy, *new_state);
  }
  // Stopped once it has opened its store; the store is replaced by another
  // and the command goes on. The store put in place must not be written.
  {
    const std::string copy = FreshCopy();
    FileLayerSetup setup;
    setup.store = copy;
    setup.stop_at_open = true;
    ProgramOptions options;
    options.arguments = Arguments(c);
    options.store = copy;
    options.environment = FileLayerEnvironment(setup);
    RunningProgram running(regstore_, options);
    ASSERT_TRUE(running.WaitUntilStopped(20)) << c.name << " never opened its store";
    const std::string other_state = StoreState(other_);
    fs::copy_file(other_, copy + ".new");
    ASSERT_EQ(::rename((copy + ".new").c_str(), copy.c_str()), 0);
    running.Continue();
    const ProgramRun run = running.Wait();
    ++tally_.faults;
    const bool success_line = run.output.find(kSuccessLine) != std::string::npos;
    if (run.exit_code == 0 || success_line) {
      ++tally_.false_successes;
      ADD_FAILURE() << c.name << " reported success although its store was replaced:\n"
                    << run.output << run.error_output;
    } else {
      ++tally_.clear_failures;
    }
    const std::string integrity = testing_support::StoreIntegrity(copy);
    const std::string problems = testing_support::StoreCheckProblems(copy);
    if (integrity != "ok" || !problems.empty() || StoreState(copy) != other_state) {
      ++tally_.broken_stores;
      ADD_FAILURE() << c.name << " changed the store put in place of its own: " << integrity << "\n"
                    << problems;
    }
  }
}

FaultTally RegstoreFaults::Run() {
  if (!testing_support::FileLayerBuilt() || !MakeBase()) {
    ADD_FAILURE() << "the test file layer or the base store is missing";
    return tally_;
  }
  const std::vector<WriteCommand> commands = WriteCommands();
  std::vector<std::string> new_states;
  for (const WriteCommand& c : commands) {
    new_states.emplace_back();
    FaultsOf(c, &new_states.back());
  }
  FullDisk(commands, new_states);
  Busy(commands, new_states);
  return tally_;
}

}  // namespace

FaultTally RunRegstoreFaults(const std::string& folder) {
  RegstoreFaults faults(folder);
  return faults.Run();
}

namespace {

TEST(RegstoreFaultTest, EveryWriteCommandUnderEveryFault) {
  const FaultTally tally = RunRegstoreFaults(testing_support::NewTempDir());
  std::printf(
      "regstore faults: %d runs of %zu write commands under faults, %d ended with a clear failure,"
      " %d reported success for a change the store lacks, %d left a store unsound or half"
      " changed\n",
      tally.faults, WriteCommands().size(), tally.clear_failures, tally.false_successes,
      tally.broken_stores);
  EXPECT_EQ(tally.false_successes, 0);
  EXPECT_EQ(tally.broken_stores, 0);
}

}  // namespace

}  // namespace fault_tests
