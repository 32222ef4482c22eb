// regstore check [FILE]: whether the store (or the store file FILE) is
// sound, read without changing it.
#include "regstore/store_check.h"
#include "regstore_tool/command.h"

namespace regstore_tool {

namespace {

int RunCheck(CommandContext& context, const CommandLine& line) {
  if (line.operands.size() > 1)
    return context.Usage("check", "too many arguments");
  const std::string path = line.operands.empty() ? StorePath() : line.operands[0];
  regstore::StoreCheckReport report;
  std::string detail;
  if (!regstore::CheckStoreFile(path, &report, &detail))
    return context.Error("cannot check the registry store: " + detail);
  Output& out = context.out();
  if (context.json()) {
    out.Write("{\"store\": " + JsonString(path) + ", \"version\": " +
              std::to_string(report.version) + ", \"keys\": " + std::to_string(report.keys) +
              ", \"values\": " + std::to_string(report.values) +
              ", \"sound\": " + (report.sound() ? "true" : "false") + ", \"problems\": [");
    for (std::size_t i = 0; i < report.problems.size(); ++i) {
      const regstore::StoreProblem& problem = report.problems[i];
      out.Write(std::string(i ? ", " : "") + "{\"key\": " + JsonString(problem.key_path) +
                ", \"problem\": " + JsonString(problem.text) + "}");
    }
    out.Write("], \"problem_count\": " + std::to_string(report.problem_count) + "}\n");
  } else {
    for (const regstore::StoreProblem& problem : report.problems) {
      out.Write((problem.key_path.empty() ? path : Shown(problem.key_path)) + ": " +
                Shown(problem.text) + "\n");
    }
    if (report.problem_count > report.problems.size()) {
      out.Write("... and " + std::to_string(report.problem_count - report.problems.size()) +
                " more problems\n");
    }
  }
  if (!report.sound()) {
    context.OutputStatus(kFailure);
    return context.Error("the registry store " + path +
                         " is damaged: " + std::to_string(report.problem_count) +
                         (report.problem_count == 1 ? " problem" : " problems"));
  }
  if (report.older_version) {
    context.Note("the store is of version " + std::to_string(report.version) +
                 "; it is brought up to date when a program first opens it for writing");
  }
  if (context.json())
    return context.OutputStatus(kSuccess);
  return context.Done("The registry store " + path + " is sound: " + std::to_string(report.keys) +
                      " keys, " + std::to_string(report.values) + " values.");
}

}  // namespace

extern const CommandSpec kCheckCommand = {
    "check",
    StoreUse::kNone,
    "check that the store is sound",
    "check [FILE]",
    "Checks the store, or the store file FILE, without changing it: SQLite's\n"
    "integrity check of the file, then the store's own rules (every key's parent\n"
    "exists and leads to a root key, every value's key exists, no two names in one\n"
    "key are one name, each name's folded form matches it, flags and value types\n"
    "are in range, the store's version is known). Each problem is shown with the\n"
    "key it concerns. Exit status 0 when the store is sound, 1 when it is not.\n",
    {{"FILE", nullptr, "a store file other than the one REGSTORE names"}},
    {},
    "",
    RunCheck,
};

}  // namespace regstore_tool
