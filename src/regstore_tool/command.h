// What every regstore command is made of: its entry in the table of
// commands (name, options, help, handler) and the context a handler runs in
// (messages, the store, the user). The command line is parsed from the same
// option list that the help shows, so the two cannot differ.
#ifndef BREVLIN_REGSTORE_TOOL_COMMAND_H_
#define BREVLIN_REGSTORE_TOOL_COMMAND_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regstore_tool/cli.h"
#include "regstore_tool/options.h"
#include "regstore_tool/store_access.h"
#include "regstore_tool/text.h"

namespace regstore_tool {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

// An option of a command, or (in `operands`) an operand the help explains.
struct CommandOption {
  const char* name;        // lower case, without "/"; for an operand, as shown
  const char* value_name;  // the value it takes as the help shows it, or null
  const char* help;        // lines after the first are indented under it
};

class CommandContext;

// What a command does with the store. The changes of a command that writes
// are one transaction: committed, and forced to the disk, before its success
// line (CommandContext::Done), and dropped when it fails.
enum class StoreUse { kNone, kReads, kWrites };

struct CommandSpec {
  const char* name;  // lower case
  StoreUse store;
  const char* summary;  // one line in `regstore help`
  const char* usage;    // what follows "Usage: regstore "
  const char* intro;    // the paragraph after the usage line, or ""
  std::vector<CommandOption> operands;
  std::vector<CommandOption> options;
  const char* notes;  // what follows the options, or ""
  int (*run)(CommandContext& context, const CommandLine& line);
};

// The rules by which the command line of `command` is parsed.
std::vector<OptionRule> OptionRules(const CommandSpec& command);
// What `regstore COMMAND /?` shows.
std::string HelpText(const CommandSpec& command);

// The messages, the store and the user, as every command uses them. Each
// function that reports something answers the exit status to give.
class CommandContext {
 public:
  CommandContext(Output& out, Output& err, Console& console, bool json, bool writes)
      : out_(out), err_(err), console_(console), json_(json), writes_(writes) {}

  Output& out() { return out_; }
  Output& err() { return err_; }
  Console& console() { return console_; }
  bool json() const { return json_; }

  // A wrong command line: the problem and where the usage is (exit 2).
  int Usage(const std::string& command, const std::string& problem);
  // A failure, as a sentence (exit 1).
  int Error(const std::string& message);
  // A warning that does not end the command.
  void Note(const std::string& message);
  // The success line, once the command's changes are committed and on the
  // disk; a failed commit is reported instead.
  int Done(const std::string& message = "The operation completed successfully.");
  // Commits the command's changes and forces them to the disk (once);
  // answers kSuccess, or kFailure after reporting why they are not stored.
  int CommitChanges();
  // Answers `code`, or kFailure after reporting a failed write of the output.
  int OutputStatus(int code);

  int ParseKey(const std::string& command, const std::string& text, KeyName* key);
  int OpenStore(bool may_create);
  int FindKey(KeyName* key);
  // The key `text` names, which must exist, in a store that must exist.
  int ExistingKey(const std::string& command, const std::string& text, KeyName* key);
  int StoreError(const std::string& what, Status status);
  // Asks the user unless there is no one to ask; false (with `code` set to
  // the status reported) when the answer is no or `refusal` applies.
  bool Ask(const std::string& question, const std::string& refusal, int* code);

 private:
  Output& out_;
  Output& err_;
  Console& console_;
  bool json_;
  bool writes_;
  bool committed_ = false;
};

// Why the store refused or lost a change, as a message ends.
std::string StoreFailureReason(Status status);

// Sets and clears flags of an existing key: protect, unprotect, lock, unlock.
int ChangeFlagsCommand(CommandContext& context, const std::string& command, const CommandLine& line,
                       std::uint32_t set, std::uint32_t clear);

// Whether a file (or anything else) is at `path`.
bool FileExists(const std::string& path);

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_COMMAND_H_
