#include "testing/posix/program_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "regstore/names.h"
#include "testing/temp_files.h"

extern char** environ;

namespace testing_support {

namespace {

double Now() {
  struct timespec t;
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Closes an SQLite connection at the end of the scope.
struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close(db); }
};

}  // namespace

std::string BuiltProgram(const std::string& name) {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0)
    return name;
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + name;
}

RunningProgram::RunningProgram(const std::string& program, const ProgramOptions& options) {
  char real[PATH_MAX];
  program_ = ::realpath(program.c_str(), real) ? real : program;
  const std::string streams = NewTempDir();
  error_file_ = JoinPath(streams, "stderr");
  output_file_ = JoinPath(streams, "stdout");
  std::vector<std::string> changes = options.environment;
  if (!options.store.empty())
    changes.push_back("REGSTORE=" + options.store);
  auto changed = [&](const std::string& entry) {
    for (const std::string& change : changes) {
      const std::string name = change.substr(0, change.find('='));
      if (entry.compare(0, name.size() + 1, name + "=") == 0)
        return true;
    }
    return false;
  };
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    if (!changed(*e))
      env_strings.push_back(*e);
  }
  for (const std::string& change : changes) {
    if (change.find('=') != std::string::npos)
      env_strings.push_back(change);
  }
  std::vector<std::string> arg_strings;
  arg_strings.push_back(program);
  arg_strings.insert(arg_strings.end(), options.arguments.begin(), options.arguments.end());
  // Everything the child needs is made before the fork.
  std::vector<char*> envp;
  for (std::string& s : env_strings)
    envp.push_back(&s[0]);
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (std::string& s : arg_strings)
    argv.push_back(&s[0]);
  argv.push_back(nullptr);
  const int error_fd = ::open(error_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int output_fd =
      ::open(output_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (error_fd < 0 || output_fd < 0) {
    ::close(error_fd);
    ::close(output_fd);
    return;
  }

  start_ = Now();
  pid_ = ::fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls from here on.
    ::dup2(error_fd, 2);
    ::dup2(output_fd, 1);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0)
      ::dup2(null_fd, 0);
    if (!options.folder.empty() && ::chdir(options.folder.c_str()) != 0)
      ::_exit(126);
    if (options.file_size_limit >= 0) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.file_size_limit);
      ::signal(SIGXFSZ, SIG_IGN);
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        ::_exit(126);
    }
    if (options.user >= 0) {
      const gid_t group = static_cast<gid_t>(options.user);
      if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 ||
          ::setuid(static_cast<uid_t>(options.user)) != 0) {
        ::_exit(126);
      }
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(error_fd);
  ::close(output_fd);
}

RunningProgram::~RunningProgram() {
  if (Started() && !ended_)
    Kill();
}

void RunningProgram::Collect(int status) {
  ended_ = true;
  run_.seconds = Now() - start_;
  if (WIFEXITED(status)) {
    run_.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    run_.signal = WTERMSIG(status);
  }
  run_.peak_memory_kib = peak_kib_;
  run_.error_output = ReadWholeFile(error_file_);
  run_.output = ReadWholeFile(output_file_);
}

void RunningProgram::WatchMemory() {
  // The peak is read from the program itself once it runs: the kernel's
  // figure for a child also counts the copy of this test process that the
  // child was before it started the program.
  char exe[4096];
  const std::string link = "/proc/" + std::to_string(pid_) + "/exe";
  ssize_t n = ::readlink(link.c_str(), exe, sizeof(exe) - 1);
  if (n <= 0 || std::string(exe, static_cast<std::size_t>(n)) != program_)
    return;
  std::ifstream info("/proc/" + std::to_string(pid_) + "/status");
  std::string field;
  while (info >> field) {
    if (field == "VmHWM:") {
      long kib = 0;
      if (info >> kib && kib > peak_kib_)
        peak_kib_ = kib;
      return;
    }
  }
}

bool RunningProgram::Ended() {
  if (!Started() || ended_)
    return true;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_ && !WIFSTOPPED(status))
    Collect(status);
  return ended_;
}

bool RunningProgram::Stop() {
  if (Ended())
    return false;
  ::kill(pid_, SIGSTOP);
  int status = 0;
  if (::waitpid(pid_, &status, WUNTRACED) != pid_)
    return false;
  if (WIFSTOPPED(status))
    return true;
  Collect(status);
  return false;
}

void RunningProgram::Continue() {
  if (!ended_)
    ::kill(pid_, SIGCONT);
}

bool RunningProgram::WaitUntilStopped(double seconds) {
  const double give_up = Now() + seconds;
  while (Started() && !ended_ && Now() < give_up) {
    int status = 0;
    const pid_t got = ::waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (got == pid_) {
      if (WIFSTOPPED(status))
        return true;
      Collect(status);
    } else if (got < 0) {
      break;
    } else {
      ::usleep(500);
    }
  }
  return false;
}

ProgramRun RunningProgram::Wait() {
  while (Started() && !ended_) {
    WatchMemory();
    int status = 0;
    pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got == pid_ && !WIFSTOPPED(status)) {
      Collect(status);
    } else if (got < 0) {
      break;
    } else if (got == 0) {
      ::usleep(1000);
    }
  }
  return run_;
}

ProgramRun RunningProgram::Kill() {
  if (Started() && !ended_)
    ::kill(pid_, SIGKILL);
  return Wait();
}

long long RunningProgram::FilePosition(const std::string& path) const {
  const std::string fd_folder = "/proc/" + std::to_string(pid_) + "/fd";
  DIR* dir = ::opendir(fd_folder.c_str());
  if (!dir)
    return -1;
  long long position = -1;
  while (const struct dirent* entry = ::readdir(dir)) {
    char target[4096];
    const std::string link = fd_folder + "/" + entry->d_name;
    ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
    if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != path)
      continue;
    std::ifstream info("/proc/" + std::to_string(pid_) + "/fdinfo/" + entry->d_name);
    std::string field;
    while (info >> field) {
      if (field == "pos:") {
        info >> position;
        break;
      }
    }
    break;
  }
  ::closedir(dir);
  return position;
}

ProgramRun RunProgram(const std::string& program, const ProgramOptions& options) {
  RunningProgram running(program, options);
  return running.Wait();
}

bool ReadStoreContent(const std::string& store, StoreContent* content, std::string* error) {
  content->clear();
  Connection connection;
  int rc = sqlite3_open_v2(store.c_str(), &connection.db, SQLITE_OPEN_READONLY, nullptr);
  if (rc == SQLITE_OK)
    sqlite3_busy_timeout(connection.db, 1000);
  sqlite3_stmt* stmt = nullptr;
  if (rc == SQLITE_OK) {
    rc = sqlite3_prepare_v2(connection.db,
                            "WITH RECURSIVE tree(id, path) AS ("
                            " SELECT id, name FROM keys WHERE parent = 0 UNION ALL"
                            " SELECT keys.id, tree.path || '\\' || keys.name FROM keys JOIN tree"
                            " ON keys.parent = tree.id)"
                            " SELECT tree.path, vals.name, vals.type, vals.data FROM tree"
                            " LEFT JOIN vals ON vals.key = tree.id",
                            -1, &stmt, nullptr);
  }
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW)
      break;
    auto column = [&](int i) {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_blob(stmt, i));
      return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
    };
    auto& values = (*content)[column(0)];
    if (sqlite3_column_type(stmt, 1) == SQLITE_NULL)
      continue;
    std::string data = column(3);
    values[column(1)] = StoredValue{static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 2)),
                                    std::vector<std::uint8_t>(data.begin(), data.end())};
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) {
    if (error)
      *error = connection.db ? sqlite3_errmsg(connection.db) : sqlite3_errstr(rc);
    return false;
  }
  return true;
}

std::string StoreIntegrity(const std::string& store) {
  Connection connection;
  std::string result;
  if (sqlite3_open_v2(store.c_str(), &connection.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    return sqlite3_errmsg(connection.db);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(connection.db, "PRAGMA integrity_check", -1, &stmt, nullptr) ==
      SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      if (!result.empty())
        result += "\n";
      result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
  } else {
    result = sqlite3_errmsg(connection.db);
  }
  sqlite3_finalize(stmt);
  return result;
}

long long LoadingValue(const StoreContent& content) {
  auto key = content.find("HKEY_CURRENT_USER\\Software\\Mardovan");
  if (key == content.end() || !key->second.count("Loading"))
    return -1;
  const StoredValue& v = key->second.at("Loading");
  if (v.type != 4 || v.data.size() != 4)
    return -2;
  return v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<long long>(v.data[3]) << 24;
}

ProgramTest::ProgramTest() : program_(BuiltProgram("register-brevlin")), dir_(NewTempDir()) {}

void ProgramTest::SetUp() {
  ASSERT_EQ(::access(program_.c_str(), X_OK), 0) << program_ << " has not been built";
}

std::string ProgramTest::NewStore() {
  return JoinPath(NewTempDir(), "registry.db");
}

StoreContent ProgramTest::Content(const std::string& store) {
  StoreContent content;
  std::string error;
  EXPECT_TRUE(ReadStoreContent(store, &content, &error)) << error;
  return content;
}

}  // namespace testing_support
