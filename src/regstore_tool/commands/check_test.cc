// regstore check answers 0 for a sound store and 1, with each problem on a
// line of its own, for a damaged one; it never makes or changes a store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "regstore/regstore.h"
#include "regstore_tool/cli.h"
#include "regstore_tool/output.h"
#include "testing/temp_files.h"

namespace regstore_tool {
namespace {

class NoConsole : public Console {
 public:
  bool Interactive() override { return false; }
  bool Confirm(const std::string&) override { return false; }
  std::istream& Input() override { return input_; }

 private:
  std::istringstream input_;
};

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result Regstore(const std::vector<std::string>& args) {
  NoConsole console;
  StringOutput out;
  StringOutput err;
  const int code = RunRegstore(args, out, err, console);
  return {code, out.text(), err.text()};
}

// A store with one key, written by the add command and committed.
std::string MakeStore() {
  const std::string path = testing_support::JoinPath(testing_support::NewTempDir(), "r.db");
  const std::string previous = regstore::StorePath();
  regstore::UseStorePath(path);
  EXPECT_EQ(Regstore({"add", "HKCU\\Software\\Check", "/v", "N", "/d", "x", "/f"}).code, 0);
  regstore::UseStorePath(previous);
  return path;
}

TEST(CheckCommand, SoundStorePassesAndDamagedOneFails) {
  const std::string path = MakeStore();
  Result sound = Regstore({"check", path});
  EXPECT_EQ(sound.code, 0) << sound.err;
  EXPECT_NE(sound.out.find("is sound: 7 keys, 1 values."), std::string::npos) << sound.out;

  std::string bytes = testing_support::ReadWholeFile(path);
  ASSERT_GT(bytes.size(), 3u * 2048);
  bytes.replace(2 * 2048, 2048, std::string(2048, '\x5A'));
  const std::string damaged = testing_support::WriteTempFile(bytes, "damaged.db");
  Result bad = Regstore({"check", damaged});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.out.find(damaged + ": damaged database: "), std::string::npos) << bad.out;
  EXPECT_NE(bad.err.find("is damaged"), std::string::npos) << bad.err;
}

TEST(CheckCommand, MissingStoreAndExtraOperands) {
  const std::string missing = testing_support::NewTempDir() + "/none.db";
  Result result = Regstore({"check", missing});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("does not exist"), std::string::npos) << result.err;
  EXPECT_EQ(Regstore({"check", "a", "b"}).code, 2);
  struct stat st;
  EXPECT_NE(::stat(missing.c_str(), &st), 0);  // the check made no store
}

}  // namespace
}  // namespace regstore_tool
