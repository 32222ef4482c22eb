// The command line on arbitrary raw lines: the splitting into arguments, the
// option values and the resolved file name must match a model that follows
// the rules one byte at a time. The same bytes, cut at NUL into an argument
// vector, also go through the conversion that the Linux program applies to
// its argv, whose arguments must come back out of the split line.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "fuzz_check.h"
#include "platform/paths.h"
#include "platform/posix/argv_command_line.h"

namespace {

using fuzzing::Check;

bool IsSeparator(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

struct ModelLine {
  std::string program;
  std::vector<std::string> arguments;
  std::size_t options_start = 0;  // where the program's path ends
};

// Splits the line: before each argument, separators and pairs of quotes are
// skipped; an argument runs to a separator outside quotes; quotes are
// dropped; counting stops at the first empty argument.
ModelLine Split(std::string_view raw) {
  ModelLine model;
  const std::size_t n = raw.size();
  std::size_t i = 0;
  for (bool first = true;; first = false) {
    while (i < n) {
      if (IsSeparator(raw[i])) {
        ++i;
      } else if (raw[i] == '"' && i + 1 < n && raw[i + 1] == '"') {
        i += 2;
      } else {
        break;
      }
    }
    std::string argument;
    while (i < n && !IsSeparator(raw[i])) {
      if (raw[i] == '"') {
        for (++i; i < n && raw[i] != '"'; ++i)
          argument += raw[i];
        if (i < n)
          ++i;
      } else {
        argument += raw[i++];
      }
    }
    if (first) {
      model.program = argument;
      model.options_start = i;
      continue;
    }
    if (argument.empty())
      break;
    model.arguments.push_back(argument);
  }
  return model;
}

// The raw line after the option's first occurrence behind the program's
// path, up to the next "/", trimmed of separators.
std::string Value(std::string_view raw, std::size_t options_start, const std::string& option) {
  std::size_t found = Upper(std::string(raw)).find(option, options_start);
  if (found == std::string::npos)
    return std::string();
  std::string value(raw.substr(found + option.size()));
  value = value.substr(0, value.find('/'));
  while (!value.empty() && IsSeparator(value.front()))
    value.erase(0, 1);
  while (!value.empty() && IsSeparator(value.back()))
    value.pop_back();
  return value;
}

std::string ModelUnquote(const std::string& value) {
  if (value.empty() || value[0] != '"')
    return value;
  std::string out;
  for (std::size_t i = 1; i < value.size(); ++i) {
    if (value[i] != '"') {
      out += value[i];
    } else if (i + 1 < value.size() && value[i + 1] == '"') {
      out += '"';
      ++i;
    } else {
      break;
    }
  }
  return out;
}

// A full path as the platform answers it: absolute, with "\" separators and
// no ".", ".." or empty elements (a trailing separator aside).
bool IsCleanFullPath(const std::string& path) {
  if (path.empty() || path[0] != '\\')
    return false;
  std::size_t start = 1;
  for (;;) {
    std::size_t end = path.find('\\', start);
    const bool last = end == std::string::npos;
    std::string element = path.substr(start, last ? std::string::npos : end - start);
    if (element == "." || element == ".." || (element.empty() && !last))
      return false;
    if (last)
      return true;
    start = end + 1;
  }
}

void CheckRawLine(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  const ModelLine model = Split(raw);
  TCommandLine line{std::string(raw)};
  Check(line.ParamStr(0) == model.program, "the program's path as the model splits it");
  Check(line.ParamCount() == static_cast<int>(model.arguments.size()), "as many arguments");
  for (std::size_t i = 0; i < model.arguments.size(); ++i) {
    Check(line.ParamStr(static_cast<int>(i) + 1) == model.arguments[i], "the same arguments");
  }
  Check(line.ParamStr(line.ParamCount() + 1).empty(), "nothing after the last argument");

  const std::string ic = Value(raw, model.options_start, "/IC");
  const std::string ip = Value(raw, model.options_start, "/IP");
  Check(line.OptionValue("/IC") == ic, "the /IC value");
  Check(line.OptionValue("/ip") == ip, "the /IP value, asked in lower case");

  std::string config_file_name;
  std::string install_path;
  std::string expected_config;
  std::string expected_install;
  for (const std::string& argument : model.arguments) {
    ParseArgument(line, argument, &config_file_name, &install_path);
    const std::string head = Upper(argument.substr(0, 3));
    if (head == "/IC")
      expected_config = ic;
    if (head == "/IP")
      expected_install = ip;
  }
  Check(config_file_name == expected_config, "ParseArgument sets /IC");
  Check(install_path == expected_install, "ParseArgument sets /IP");
  if (config_file_name.empty())
    return;

  const std::string name = ModelUnquote(config_file_name);
  const std::string install = ModelUnquote(install_path);
  const std::string resolved = ResolveConfigFileName(config_file_name, install_path);
  if (name.find_first_of("\\:") != std::string::npos || install.empty()) {
    Check(resolved == name, "a name with a folder, or no install path, stays as it is");
    return;
  }
  // The folder of the expanded install path goes in front of the name.
  Check(resolved.size() > name.size() &&
            resolved.compare(resolved.size() - name.size(), name.size(), name) == 0 &&
            resolved[resolved.size() - name.size() - 1] == '\\',
        "the name behind a folder");
  std::string expanded;
  if (plat::GetFullPathNameA(install, &expanded) == plat::kErrorSuccess) {
    Check(IsCleanFullPath(expanded), "an expanded path is absolute and clean");
    const std::string folder = resolved.substr(0, resolved.size() - name.size());
    // The folder ends in the separator that was added, if none was there.
    Check(expanded.compare(0, folder.size() - 1, folder, 0, folder.size() - 1) == 0,
          "the folder of the expanded path");
  }
}

// The argument vector of the Linux program, made into the Windows command
// line and split again: every argument without quotes comes back, with "/"
// turned into "\" except in options and switches; empty ones vanish.
void CheckArgv(std::string_view data) {
  std::vector<std::string> argv;
  std::size_t start = 0;
  bool has_quote = false;
  for (;;) {
    std::size_t end = data.find('\0', start);
    std::string argument(data.substr(start, end == std::string_view::npos ? end : end - start));
    has_quote = has_quote || argument.find('"') != std::string::npos;
    argv.push_back(argument);
    if (end == std::string_view::npos)
      break;
    start = end + 1;
  }
  const std::string raw = plat::posix::BuildCommandLine(argv);
  TCommandLine line(raw);
  // Quotes inside arguments are passed through as quotes; an empty program
  // path vanishes like any empty argument, and the next one takes its place.
  if (has_quote || argv[0].empty())
    return;

  std::vector<std::string> expected;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (!argv[i].empty())
      expected.push_back(argv[i]);
  }
  Check(line.ParamCount() == static_cast<int>(expected.size()), "every non-empty argument");
  for (std::size_t i = 0; i < expected.size(); ++i) {
    std::string got = line.ParamStr(static_cast<int>(i) + 1);
    std::string want = expected[i];
    Check(got.size() == want.size(), "an argument keeps its length");
    for (std::size_t k = 0; k < want.size(); ++k) {
      Check(got[k] == want[k] || (want[k] == '/' && got[k] == '\\'),
            "an argument comes back, slashes aside");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckRawLine(input);
  CheckArgv(input);
  return 0;
}
