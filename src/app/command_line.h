// The program's command line: the raw line, the arguments split from it, and
// the values of the options /IC and /IP.
//
// An option is recognised on the argument list, but its value is read from
// the raw line, from the option's first occurrence up to the next "/", so
// that a value may hold spaces without being quoted.
#ifndef BREVLIN_APP_COMMAND_LINE_H_
#define BREVLIN_APP_COMMAND_LINE_H_

#include <map>
#include <string>
#include <vector>

class TCommandLine {
 public:
  // `raw` is the process's command line as one 8-bit string, beginning with
  // the program's own path, quoted or not.
  explicit TCommandLine(std::string raw);

  const std::string& Raw() const { return raw_; }

  // The number of arguments after the program's own path, up to the first
  // empty one.
  int ParamCount() const;
  // Argument `index`: 0 is the program's own path, 1 to ParamCount() the
  // arguments; empty for any other index.
  std::string ParamStr(int index) const;

  // The value of `option` ("/IC" or "/IP"): the raw line after the option's
  // first occurrence (in any letter case) behind the program's own path, up
  // to the next "/", without the bytes 0x00 to 0x20 at either end. It keeps
  // the letter case and any quotes that were typed. Empty when the option's
  // text does not occur there (quotes split its letters) or nothing follows.
  std::string OptionValue(const std::string& option) const;

 private:
  std::string raw_;
  // The raw line in upper case, made once: every /IC or /IP argument asks for
  // its option's value, and a line of many of them must not be upper-cased
  // again for each.
  std::string upper_raw_;
  // Argument 0 and the counted arguments.
  std::vector<std::string> arguments_;
  // Where argument 0 ends in `raw_`.
  std::string::size_type options_start_ = 0;
  // The values already asked for, by option in upper case: the value of an
  // option depends on the line only.
  mutable std::map<std::string, std::string> option_values_;
};

// The two options of the program's command line.
constexpr char kConfigFileOption[] = "/IC";
constexpr char kInstallPathOption[] = "/IP";

enum class ConfigOption { kNone, kConfigFile, kInstallPath };

// Which option an argument is: one that begins with "/IC" or "/IP" in any
// letter case; any other argument, and one shorter than three bytes, is none.
ConfigOption ConfigOptionOf(const std::string& argument);

// Hands one argument to the options: an argument that begins with "/IC" in
// any letter case sets `*config_file_name`, one that begins with "/IP" sets
// `*install_path`, each to OptionValue of that option. Any other argument,
// and one shorter than three bytes, is ignored.
void ParseArgument(const TCommandLine& command_line, const std::string& argument,
                   std::string* config_file_name, std::string* install_path);

// Removes the quotes of a value that begins with a double quote: the value is
// the text up to the closing quote, in which two adjacent quotes stand for
// one, and whatever follows the closing quote is dropped. Without a closing
// quote the value is everything after the opening one. A value that does not
// begin with a quote is answered unchanged.
std::string Unquote(const std::string& value);

// The name of the configuration file to test and import. The name is
// unquoted. When it has no folder part (neither "\" nor ":") and
// `install_path` is not empty, the folder that holds the last element of the
// expanded, unquoted `install_path` is put in front of it: an install path
// that ends in "\" gives that very folder, one that names a file gives its
// folder. Otherwise the name stays as it is, relative to the current folder
// when it is relative.
std::string ResolveConfigFileName(const std::string& config_file_name,
                                  const std::string& install_path);

#endif  // BREVLIN_APP_COMMAND_LINE_H_
