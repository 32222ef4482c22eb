// Runs the regstore command inside the test process: a console whose user
// answers as told, and the command's output and messages as text.
#ifndef BREVLIN_TESTING_REGSTORE_CLI_H_
#define BREVLIN_TESTING_REGSTORE_CLI_H_

#include <istream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "regstore_tool/cli.h"

namespace testing_support {

// A console whose user answers as told, and whose standard input is a text
// (or any stream the test puts in `stream`).
class FakeConsole : public regstore_tool::Console {
 public:
  bool Interactive() override { return interactive; }
  bool Confirm(const std::string& question) override {
    questions.push_back(question);
    return answer;
  }
  std::istream& Input() override { return stream ? *stream : input; }

  bool interactive = false;
  bool answer = false;
  std::vector<std::string> questions;
  std::istringstream input;
  std::istream* stream = nullptr;
};

struct RegstoreResult {
  int code;
  std::string out;
  std::string err;
};

inline RegstoreResult RunRegstoreCommand(const std::vector<std::string>& args,
                                         FakeConsole* console = nullptr, bool terminal = false) {
  FakeConsole fallback;
  regstore_tool::StringOutput out;
  regstore_tool::StringOutput err;
  out.terminal = terminal;
  const int code = regstore_tool::RunRegstore(args, out, err, console ? *console : fallback);
  return {code, out.text(), err.text()};
}

}  // namespace testing_support

#endif  // BREVLIN_TESTING_REGSTORE_CLI_H_
