#include "testing/posix/fault_fixture.h"

#include <sched.h>
#include <sys/mount.h>

#include <cstdio>
#include <cstdlib>

#include "common/run_outcome.h"
#include "platform/registry.h"
#include "regstore/store_check.h"

namespace testing_support {

int EnvCount(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

bool MountSmallPrivateDisk(const std::string& mount_point) {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=4m") == 0;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

StoredValue Text(const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return StoredValue{plat::kRegSz, data};
}

StoredValue Dword(std::uint32_t n) {
  return StoredValue{plat::kRegDword,
                     {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                      static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)}};
}

Workload MakeWorkload(const std::string& tree, int keys, int values) {
  Workload w;
  w.tree = "Software\\Mardovan\\" + tree;
  w.text = "<[Brevlin]>\n<HKEY_CURRENT_USER>\n";
  for (int k = 0; k < keys; ++k) {
    ExpectedKey key;
    key.path = w.tree + "\\Key" + std::to_string(k);
    w.text += "[" + key.path + "]\n";
    for (int v = 0; v < values; ++v) {
      const std::string name = "V" + std::to_string(v);
      const std::uint32_t n = static_cast<std::uint32_t>(k * 100 + v);
      switch (v % 3) {
        case 0:
          w.text += "integer\t" + name + "\t" + std::to_string(n) + "\n";
          key.values.emplace_back(name, Dword(n));
          break;
        case 1: {
          const std::string text = tree + " text " + std::to_string(n);
          w.text += "string\t" + name + "\t" + text + "\n";
          key.values.emplace_back(name, Text(text));
          break;
        }
        default: {
          StoredValue bytes{plat::kRegBinary, {}};
          for (int i = 0; i < 12; ++i) {
            const unsigned b = (n * 7 + static_cast<unsigned>(i)) & 0xFF;
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%02X,", b);
            w.text += i == 0 ? "binary\t" + name + "\t" + hex : std::string(hex);
            bytes.data.push_back(static_cast<std::uint8_t>(b));
          }
          w.text += "\n";
          key.values.emplace_back(name, bytes);
          break;
        }
      }
    }
    w.keys.push_back(key);
  }
  return w;
}

int WholeKeys(const StoreContent& content, const Workload& w, std::string* problem) {
  const std::string root = "HKEY_CURRENT_USER\\";
  std::size_t present = 0;
  while (present < w.keys.size() && content.count(root + w.keys[present].path))
    ++present;
  std::size_t known = 0;
  for (const auto& entry : content) {
    if (entry.first.compare(0, root.size() + w.tree.size() + 1, root + w.tree + "\\") == 0)
      ++known;
  }
  if (known != present) {
    *problem = std::to_string(known) + " keys below the tree, but only the first " +
               std::to_string(present) + " of the file in order";
    return -1;
  }
  int whole = 0;
  for (std::size_t i = 0; i < present; ++i) {
    const ExpectedKey& key = w.keys[i];
    const auto& stored = content.at(root + key.path);
    std::size_t j = 0;
    while (j < key.values.size() && stored.count(key.values[j].first)) {
      if (!(stored.at(key.values[j].first) == key.values[j].second)) {
        *problem = key.path + " " + key.values[j].first + " holds other data";
        return -1;
      }
      ++j;
    }
    if (j != stored.size()) {
      *problem = key.path + " holds values that are not the first of its own";
      return -1;
    }
    if (j == key.values.size()) {
      ++whole;
    } else if (j != 0) {
      *problem = key.path + " holds " + std::to_string(j) + " of its values: a torn key";
      return -1;
    } else if (i + 1 < present) {
      *problem = key.path + " lacks values although the import went on to the next key";
      return -1;
    }
  }
  return whole;
}

std::string StoreCheckProblems(const std::string& store) {
  regstore::StoreCheckReport report;
  std::string detail;
  if (!regstore::CheckStoreFile(store, &report, &detail))
    return "cannot be checked: " + detail;
  std::string problems;
  for (const regstore::StoreProblem& problem : report.problems)
    problems += (problem.key_path.empty() ? "" : problem.key_path + ": ") + problem.text + "\n";
  return report.sound() ? "" : problems.empty() ? "unsound" : problems;
}

bool ReportedFailure(const ProgramRun& run) {
  return run.signal == 0 && run.exit_code != kExitSuccess;
}

void ExpectStoreFailure(const ProgramRun& run, const std::string& what) {
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_code, kExitStoreUnavailable) << run.error_output;
  EXPECT_NE(run.error_output.find("Registry Error\n"), std::string::npos) << run.error_output;
  EXPECT_NE(run.error_output.find(": The registry store"), std::string::npos) << run.error_output;
  EXPECT_NE(run.error_output.find(what), std::string::npos) << run.error_output;
}

bool ClearFailure(const ProgramRun& run) {
  return run.signal == 0 && run.exit_code == kExitStoreUnavailable &&
         run.error_output.find(": The registry store") != std::string::npos;
}

int LostValues(const StoreContent& expected, const StoreContent& content) {
  int lost = 0;
  for (const auto& key : expected) {
    auto found = content.find(key.first);
    for (const auto& value : key.second) {
      if (found == content.end() || !found->second.count(value.first) ||
          !(found->second.at(value.first) == value.second)) {
        ++lost;
      }
    }
  }
  return lost;
}

int ValueCount(const StoreContent& content) {
  int count = 0;
  for (const auto& key : content)
    count += static_cast<int>(key.second.size());
  return count;
}
}  // namespace testing_support
